#include "app/wizard/RecoveryStateFiles.h"

#include "app/wizard/AppContext.h"
#include "filesystems/DIRBuildCallback.h"
#include "logging/Log.h"
#include "platform/AppPaths.h"
#include "platform/FileReplace.h"
#include "platform/WorkerRun.h"
#include "recovery/RSData.h"
#include "recovery/ScanStateSections.h"

#include <atomic>
#include <cerrno>
#include <deque>
#include <vector>

namespace {

// A chain longer than this is a fault in the wizard (a loop of previous pointers).
constexpr int kMaxChainLength = 16;

class NullProgress : public CNullDirBuildCallback {};

IDIRBuildCallback& OrNull(IDIRBuildCallback* progress) {
    static thread_local NullProgress none;
    return progress ? *progress : none;
}

bool PathsOf(const AppContext& context, IWizardPageController* controller,
             RecoveryStatePaths& out) {
    return controller && GetRecoveryStatePaths(context, controller->GetScanKind(), out);
}

bool MakeStateFolder(const AppContext& context) {
    std::string error;
    if (platform::MakePrivateDir(context.Paths().stateDir, &error))
        return true;
    ReleaseTrace("Failed to make the state folder %s: %s", context.Paths().stateDir.c_str(),
                 error.c_str());
    return false;
}

} // namespace

bool GetRecoveryStatePaths(const AppContext& context, int scanKind, RecoveryStatePaths& out) {
    const std::string& dir = context.Paths().stateDir;
    if (dir.empty())
        return false;
    switch (scanKind) {
    case kScanDeep:
        out.temporary = dir + "brulincstemp.rdf";
        out.last = dir + "brulincslast.rdf";
        return true;
    case kScanLostPartition:
        out.temporary = dir + "brulinlpstemp.rdf";
        out.last = dir + "brulinlpslast.rdf";
        return true;
    default:
        return false;
    }
}

std::uint32_t StageOfControllerType(int controllerType) {
    switch (controllerType) {
    case kControllerCompleteRecoveryScanPartition:
        return 1;
    case kControllerFileSelect:
        return 2;
    case kControllerLostRecoveryPartition:
        return 3;
    case kControllerLostRecoveryScanPartition:
        return 4;
    default:
        return 0;
    }
}

std::uint32_t RestoreLimitOfStage(std::uint32_t stage) {
    switch (stage) {
    case 1:
        return kControllerCompleteRecoveryScanPartition;
    case 2:
        return kControllerFileSelect;
    case 3:
        return kControllerLostRecoveryPartition;
    case 4:
        return kControllerLostRecoveryScanPartition;
    default:
        return kControllerNotPersisted;
    }
}

IWizardPageController* ControllerOfType(const AppContext& context, std::uint32_t type) {
    static const int pages[] = {kPageCompleteRecoveryPartition, kPageCompleteRecoveryScanPartition,
                                kPageLostRecoveryDisk,          kPageLostRecoveryPartition,
                                kPageLostRecoveryScanPartition, kPageFileSelect};
    if (type >= sizeof pages / sizeof pages[0])
        return nullptr;
    return context.Controller(pages[type]);
}

bool SaveControllerStatus(AppContext& context, IWizardPageController* controller) {
    RecoveryStatePaths paths;
    if (!PathsOf(context, controller, paths) || !MakeStateFolder(context))
        return false;
    CRSDataEx writer(RSDATA_WRITE);
    try {
        if (!writer.Open(paths.temporary.c_str(), false))
            return false;
        writer.SetStage(StageOfControllerType(controller->GetControllerType()));
        writer.Close();
        return true;
    } catch (const IRSException& e) {
        ReleaseTrace("Failed to set current controller status! Error code:%d.", e.GetErrorCode());
        writer.Close();
        return false;
    }
}

bool PromoteRecoveryStateFile(AppContext& context, IWizardPageController* controller) {
    RecoveryStatePaths paths;
    if (!PathsOf(context, controller, paths))
        return false;
    bool valid = false;
    {
        CRSDataEx reader(RSDATA_READ);
        if (!reader.Open(paths.temporary.c_str(), false))
            return true; // nothing to promote
        valid = reader.CheckHeader();
        reader.Close();
    }
    if (!valid)
        return true;
    if (!platform::ReplaceFileDurably(paths.temporary, paths.last)) {
        ReleaseTrace("Failed to repalce file, Error code:%d", errno);
        return false;
    }
    return true;
}

bool SaveRecoveryStatesWorker(AppContext& context, IWizardPageController* controller,
                              IDIRBuildCallback* progressOrNull) {
    IDIRBuildCallback& progress = OrNull(progressOrNull);
    progress.BeginStage("Saving recovery states...", 100);
    RecoveryStatePaths paths;
    if (!PathsOf(context, controller, paths) || !MakeStateFolder(context)) {
        progress.Reset();
        return false;
    }
    const std::string partial = paths.temporary + ".part";
    CRSDataEx writer(RSDATA_WRITE);
    bool ok = false;
    if (writer.Open(partial.c_str(), true)) {
        try {
            writer.SetStage(StageOfControllerType(controller->GetControllerType()));
            progress.StepBy(5);
            // From the wizard's first step to the current one.
            std::deque<IWizardPageController*> chain;
            int steps = 0;
            for (IWizardPageController* c = controller; c && steps < kMaxChainLength;
                 c = c->GetPrevious(), ++steps)
                if (c->GetControllerType() != kControllerNotPersisted)
                    chain.push_front(c);
            std::vector<std::uint32_t> types;
            for (IWizardPageController* c : chain)
                types.push_back(static_cast<std::uint32_t>(c->GetControllerType()));
            SaveControllerChain(&writer, types);
            progress.StepBy(5);
            for (IWizardPageController* c : chain) {
                c->SaveState(&writer);
                progress.StepBy(10);
            }
            ok = true;
        } catch (const IRSException& e) {
            ReleaseTrace("RS Exception:%d", e.GetErrorCode());
        }
    }
    writer.Close();
    if (ok && !platform::ReplaceFileDurably(partial, paths.temporary)) {
        ReleaseTrace("Failed to repalce file, Error code:%d", errno);
        ok = false;
    }
    if (!ok)
        platform::RemoveFile(partial);
    progress.Reset();
    return ok;
}

bool SaveRecoveryStates(AppContext& context, IWizardPageController* controller) {
    std::unique_ptr<IBuildProgress> progress = context.Services().CreateUncancellableProgress("Save recovery states");
    std::atomic<bool> done{false};
    bool result = false;
    if (!platform::RunWorker(done, [&] {
            result = SaveRecoveryStatesWorker(context, controller, progress.get());
        })) {
        ReleaseTrace("Failed to start the thread that saves the recovery states.");
        return false;
    }
    return result;
}

IWizardPageController* LoadRecoveryStates(AppContext& context, IWizardPageController* controller,
                                          IDIRBuildCallback* progressOrNull) {
    IDIRBuildCallback& progress = OrNull(progressOrNull);
    RecoveryStatePaths paths;
    if (!PathsOf(context, controller, paths))
        return nullptr;
    CRSDataEx reader(RSDATA_READ);
    if (!reader.Open(paths.last.c_str(), false))
        return nullptr;
    std::vector<IWizardPageController*> list;
    IWizardPageController* result = nullptr;
    try {
        progress.BeginStage("Loading recovery states...", 100);
        // A file without the store's header or with a stage outside 1..4 is nobody's state.
        if (reader.CheckHeader()) {
            const std::uint32_t limit = RestoreLimitOfStage(reader.GetStage());
            progress.StepBy(5);
            std::vector<std::uint32_t> types;
            RecreateControllerChain(&reader, limit, types);
            progress.StepBy(5);
            bool ok = !types.empty();
            IWizardPageController* previous = controller;
            for (std::uint32_t type : types) {
                IWizardPageController* c = ControllerOfType(context, type);
                if (!c) {
                    ok = false;
                    break;
                }
                list.push_back(c);
                if (c != previous)
                    c->SetPrevious(previous);
                if (!c->RestoreState(&reader)) {
                    ok = false;
                    break;
                }
                previous = c;
                progress.StepBy(10);
            }
            if (ok) {
                reader.Close();
                if (!platform::CopyFileReplacing(paths.last, paths.temporary))
                    ReleaseTrace("Failed to copy the last recovery state over the current one.");
                result = list.back();
            }
        }
    } catch (const IRSException& e) {
        ReleaseTrace("Failed to restore last recvoery states. Error code:%d.", e.GetErrorCode());
        result = nullptr;
    }
    if (!result) {
        for (IWizardPageController* c : list) {
            const int type = c->GetControllerType();
            if (type == kControllerCompleteRecoveryScanPartition ||
                type == kControllerLostRecoveryPartition ||
                type == kControllerLostRecoveryScanPartition || type == kControllerFileSelect)
                c->Reset();
        }
    }
    progress.Reset();
    reader.Close();
    return result;
}

bool RestoreRecoveryStates(AppContext& context, IWizardPageController* controller) {
    std::unique_ptr<IBuildProgress> progress = context.Services().CreateUncancellableProgress("Restore previous recovery");
    IWizardPageController* restored = LoadRecoveryStates(context, controller, progress.get());
    progress.reset();
    if (!restored)
        return false;
    restored->Activate();
    return true;
}

bool GetSavedResultInfo(AppContext& context, IWizardPageController* controller,
                        std::string& description) {
    description.clear();
    RecoveryStatePaths paths;
    if (!PathsOf(context, controller, paths))
        return false;
    CRSDataEx reader(RSDATA_READ);
    if (!reader.Open(paths.last.c_str(), false))
        return false;
    try {
        if (!reader.CheckHeader())
            return false;
        char buffer[260] = {};
        if (!reader.GetDescription(buffer, sizeof buffer))
            return false;
        description = buffer;
        return true;
    } catch (const IRSException& e) {
        ReleaseTrace("Failed to get reuslt info, Error code:%d", e.GetErrorCode());
        return false;
    }
}

int SetSavedResultInfo(IRSData* writer, const std::string& text) {
    try {
        writer->SetDescription(text.c_str());
    } catch (const IRSException& e) {
        ReleaseTrace("Failed to set reuslt info, Error code:%d", e.GetErrorCode());
    }
    return 1;
}

bool DeleteSavedRecoveryState(AppContext& context, IWizardPageController* controller) {
    RecoveryStatePaths paths;
    return PathsOf(context, controller, paths) && platform::RemoveFile(paths.last);
}
