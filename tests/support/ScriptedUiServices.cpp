#include "tests/support/ScriptedUiServices.h"

#include "app/wizard/DeepScanProgress.h"
#include "app/wizard/LostPartitionSearchModel.h"

#include <gtest/gtest.h>

namespace {

const char* KindName(ScriptedUiServices::Kind k) {
    switch (k) {
    case ScriptedUiServices::Kind::Message: return "message";
    case ScriptedUiServices::Kind::CheckBox: return "check-box prompt";
    case ScriptedUiServices::Kind::OpenFile: return "file dialog";
    case ScriptedUiServices::Kind::Folder: return "folder dialog";
    case ScriptedUiServices::Kind::Waiting: return "waiting notice";
    case ScriptedUiServices::Kind::Progress: return "progress dialog";
    case ScriptedUiServices::Kind::SaveFile: return "save dialog";
    case ScriptedUiServices::Kind::DeepScan: return "deep-scan dialog";
    case ScriptedUiServices::Kind::PartitionSearch: return "partition search dialog";
    case ScriptedUiServices::Kind::DiskImageWizard: return "open-image wizard";
    case ScriptedUiServices::Kind::CreateImage: return "create-image wizard";
    case ScriptedUiServices::Kind::Settings: return "advanced settings";
    }
    return "?";
}

class ScriptedWaiting : public IWaitingNotice {};

class ScriptedProgress : public IBuildProgress {
public:
    explicit ScriptedProgress(int cancelAt) : m_cancelAt(cancelAt) {}
    int BeginStage(const char*, std::int32_t) override { return Step(); }
    int StepBy(std::int32_t) override { return Step(); }
    int SetPos(std::int32_t) override { return Step(); }
    int Reset() override { return Step(); }
    int Poll() override { return Step(); }
    bool Cancelled() const override { return m_cancelled; }

private:
    int Step() {
        if (m_cancelAt >= 0 && m_steps++ >= m_cancelAt)
            m_cancelled = true;
        return m_cancelled ? -1 : 0;
    }
    int m_cancelAt;
    int m_steps = 0;
    bool m_cancelled = false;
};

} // namespace

ScriptedUiServices::~ScriptedUiServices() {
    for (const Expectation& e : m_queue)
        ADD_FAILURE() << "expected " << KindName(e.kind) << " " << e.stringId << " never came";
}

ScriptedUiServices& ScriptedUiServices::ExpectMessage(int stringId, int answer) {
    m_queue.push_back({Kind::Message, stringId, answer, false, {}, -1});
    return *this;
}
ScriptedUiServices& ScriptedUiServices::ExpectCheckBox(int stringId, int answer, bool checked) {
    m_queue.push_back({Kind::CheckBox, stringId, answer, checked, {}, -1});
    return *this;
}
ScriptedUiServices& ScriptedUiServices::ExpectOpenFile(const std::string& path) {
    m_queue.push_back({Kind::OpenFile, 0, 0, false, path, -1});
    return *this;
}
ScriptedUiServices& ScriptedUiServices::ExpectFolder(const std::string& path) {
    m_queue.push_back({Kind::Folder, 0, 0, false, path, -1});
    return *this;
}
ScriptedUiServices& ScriptedUiServices::ExpectWaiting(int stringId) {
    m_queue.push_back({Kind::Waiting, stringId, 0, false, {}, -1});
    return *this;
}
ScriptedUiServices& ScriptedUiServices::ExpectProgress(int cancelAtStep) {
    m_queue.push_back({Kind::Progress, 0, 0, false, {}, cancelAtStep});
    return *this;
}

ScriptedUiServices::Expectation ScriptedUiServices::Take(Kind kind, int stringId, const char* what) {
    m_log.push_back(std::string(what) + " " + std::to_string(stringId));
    if (m_queue.empty()) {
        ADD_FAILURE() << "unexpected " << KindName(kind) << " " << stringId;
        return Expectation{kind, stringId, kAnswerCancel, false, {}, -1};
    }
    Expectation e = m_queue.front();
    m_queue.pop_front();
    const bool idMatters = kind == Kind::Message || kind == Kind::CheckBox || kind == Kind::Waiting;
    if (e.kind != kind || (idMatters && e.stringId != stringId)) {
        ADD_FAILURE() << "expected " << KindName(e.kind) << " " << e.stringId << ", got " << KindName(kind) << " "
                      << stringId;
        return Expectation{kind, stringId, kAnswerCancel, false, {}, -1};
    }
    return e;
}

int ScriptedUiServices::MessageBox(int stringId, int, std::uint16_t) { return Take(Kind::Message, stringId, "message").answer; }

int ScriptedUiServices::MessageText(int stringId, const std::string& text, int, std::uint16_t) {
    m_texts.push_back(text);
    return Take(Kind::Message, stringId, "message").answer;
}

int ScriptedUiServices::CheckBoxPrompt(int stringId, int, std::uint16_t, bool& checked) {
    const Expectation e = Take(Kind::CheckBox, stringId, "check-box");
    checked = e.checked;
    return e.answer;
}

std::string ScriptedUiServices::OpenFileDialog(const std::string&) { return Take(Kind::OpenFile, 0, "open-file").path; }

std::string ScriptedUiServices::ChooseFolder(const std::string&) { return Take(Kind::Folder, 0, "folder").path; }

std::unique_ptr<IWaitingNotice> ScriptedUiServices::ShowWaiting(int stringId) {
    Take(Kind::Waiting, stringId, "waiting");
    return std::make_unique<ScriptedWaiting>();
}

std::unique_ptr<IBuildProgress> ScriptedUiServices::CreateBuildProgress() {
    return std::make_unique<ScriptedProgress>(Take(Kind::Progress, 0, "progress").cancelAtStep);
}

void ScriptedUiServices::ShowHelpTopic(int topicId) { m_log.push_back("help " + std::to_string(topicId)); }

void ScriptedUiServices::OpenUrl(const std::string& url) { m_log.push_back("url " + url); }

// ---- Deleted File Recovery steps ----

ScriptedUiServices& ScriptedUiServices::ExpectSaveFile(const std::string& path) {
    m_queue.push_back({Kind::SaveFile, 0, 0, false, path, -1});
    return *this;
}

RecoveryOutcome ScriptedUiServices::RunRecoveringDialog(CFileNode* root, IStorageDevice* device,
                                                        const std::string& outputFolder) {
    m_log.push_back("recovering " + outputFolder);
    // A user who cancels while the named file is being written.
    class CancelInFile : public CRecoveryProgress {
    public:
        explicit CancelInFile(std::string name) : m_name(std::move(name)) {}
        int AddBytesDone(std::uint64_t bytes) override {
            CRecoveryProgress::AddBytesDone(bytes);
            if (!m_name.empty() && CurrentFile() == m_name)
                Cancel();
            return Poll();
        }

    private:
        std::string m_name;
    };
    CancelInFile progress(cancelRecoveryInFile);
    const int cancelAt = cancelRecoveryAtFile;
    if (cancelAt >= 0) {
        if (cancelAt == 0)
            progress.Cancel();
        progress.onFileDone = [&progress, cancelAt](int done) {
            if (done >= cancelAt)
                progress.Cancel();
        };
    }
    return RunRecoveryWalk(root, device, outputFolder, progress);
}

std::string ScriptedUiServices::SaveFileDialog(const std::string& defaultName, const std::string& filter) {
    m_texts.push_back(defaultName + "|" + filter);
    return Take(Kind::SaveFile, 0, "save-file").path;
}

bool ScriptedUiServices::ShowSearchDialog(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description) {
    m_log.push_back("search");
    return onSearch ? onSearch(root, folder, result, description) : false;
}

void ScriptedUiServices::ShowFindDialog(IFindFileView& view) {
    m_log.push_back("find");
    if (onFind)
        onFind(view);
}

void ScriptedUiServices::PreviewFile(IStorageDevice* device, CFileNode* node) {
    m_log.push_back("preview");
    if (onPreview)
        onPreview(device, node);
}

// ---- Deep Scan Recovery steps ----

namespace {

// The deep-scan dialog's model; the user cancels after `cancelAt` chunks (never when < 0).
class ScriptedDeepScan : public CDeepScanProgressModel {
public:
    explicit ScriptedDeepScan(int cancelAt) : m_cancelAt(cancelAt) {}
    void SetStatistics(const IntelligentSearchStats* stats) override {
        CDeepScanProgressModel::SetStatistics(stats);
        if (m_cancelAt >= 0 && ++m_chunks >= m_cancelAt)
            Cancel();
    }

private:
    int m_cancelAt;
    int m_chunks = 0;
};

} // namespace

ScriptedUiServices& ScriptedUiServices::ExpectDeepScan(int cancelAtChunk) {
    m_queue.push_back({Kind::DeepScan, 0, 0, false, {}, cancelAtChunk});
    return *this;
}

std::unique_ptr<IDeepScanProgress> ScriptedUiServices::CreateDeepScanProgress() {
    const Expectation e = Take(Kind::DeepScan, 0, "deep-scan");
    return std::make_unique<ScriptedDeepScan>(e.kind == Kind::DeepScan ? e.cancelAtStep : -1);
}
// Lost Partition Recovery.
ScriptedUiServices& ScriptedUiServices::ExpectPartitionSearch(long long cancelAfterSteps) {
    m_queue.push_back({Kind::PartitionSearch, 0, 0, false, {}, static_cast<int>(cancelAfterSteps)});
    return *this;
}

ScriptedUiServices& ScriptedUiServices::ExpectDiskImageWizard(const std::string& path) {
    m_queue.push_back({Kind::DiskImageWizard, 0, 0, false, path, -1});
    return *this;
}

std::unique_ptr<IWaitingNotice> ScriptedUiServices::ShowPartitionSearch(CLostPartitionSearchModel& model) {
    const Expectation e = Take(Kind::PartitionSearch, 0, "partition-search");
    if (e.cancelAtStep >= 0)
        model.CancelAfterSteps(static_cast<std::uint64_t>(e.cancelAtStep));
    return std::make_unique<ScriptedWaiting>();
}

std::string ScriptedUiServices::ChooseDiskImage() { return Take(Kind::DiskImageWizard, 0, "image-wizard").path; }

// ---- Deleted File Recovery: properties and image commands ----
void ScriptedUiServices::ShowProperties(int templateId, const std::string& title, const PropertyRows& rows) {
    m_log.push_back("properties " + std::to_string(templateId));
    properties.push_back({templateId, title, rows});
}

ScriptedUiServices& ScriptedUiServices::ExpectCreateImage(const std::string& path) {
    m_queue.push_back({Kind::CreateImage, 0, 0, false, path, -1});
    return *this;
}

std::string ScriptedUiServices::CreateImageOfSelected(IStorageDevice* source, const std::string& caption,
                                                      std::uint32_t heads) {
    createImageSource = source;
    createImageCaption = caption;
    createImageHeads = heads;
    return Take(Kind::CreateImage, 0, "create-image wizard").path;
}

ScriptedUiServices& ScriptedUiServices::ExpectSettings() {
    m_queue.push_back({Kind::Settings, 0, 0, false, {}, -1});
    return *this;
}

void ScriptedUiServices::ShowAdvancedSettings() { Take(Kind::Settings, 0, "advanced settings"); }
