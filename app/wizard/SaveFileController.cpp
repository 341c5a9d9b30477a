#include "app/wizard/SaveFileController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/FileSelectController.h"
#include "filesystems/FileNode.h"
#include "logging/Log.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

#include <cstdio>

// ---- Page model ------------------------------------------------------------------------------

void CSaveFilePageModel::Reset(std::uint64_t selectedBytes, std::uint32_t selectedFiles) {
    m_selectedBytes = selectedBytes;
    m_selectedFiles = selectedFiles;
    m_target.clear();
    m_space = TargetSpace{};
    if (onChanged)
        onChanged();
}

void CSaveFilePageModel::SetTargetFolder(const std::string& path) {
    m_target = path;
    RefreshSpace();
    if (onChanged)
        onChanged();
}

std::string CSaveFilePageModel::GetTargetFolder() const {
    std::string t = m_target;
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t'))
        t.pop_back();
    return t;
}

void CSaveFilePageModel::RefreshSpace() {
    const std::string t = GetTargetFolder();
    m_space = t.empty() ? TargetSpace{} : TargetSpaceOf(t);
}

bool CSaveFilePageModel::HasFreeSpace() {
    RefreshSpace();
    return m_space.freeForCaller >= m_selectedBytes;
}

std::string CSaveFilePageModel::SummaryText() const {
    char text[160];
    std::snprintf(text, sizeof text, uistr::LoadUiString(uistr::kYouHaveSelected), uifmt::FormatSize(m_selectedBytes).c_str(),
                  static_cast<int>(m_selectedFiles));
    return text;
}

// ---- Save step -------------------------------------------------------------------------------

CSaveFileController::CSaveFileController(AppContext& context, ISheet* sheet)
    : CWizardPageControllerBase(sheet, kPageSaveFile), m_context(context) {}

void CSaveFileController::SetSaveSource(CFileNode* root) {
    m_root = root;
    FileTreeCounters c;
    if (auto* folder = dynamic_cast<CFileSystemNode*>(root))
        folder->GetCounters(&c);
    m_page.Reset(c.checkedBytes, c.checkedFiles);
}

void CSaveFileController::Reset() {
    m_page.Reset(m_page.SelectedBytes(), m_page.SelectedFiles());
}

std::string CSaveFileController::GetSavedFolder(int index) const {
    return index >= 0 && index < GetSavedFolderCount() ? m_folders[static_cast<std::size_t>(index)] : std::string();
}

IStorageDevice* CSaveFileController::SourceDevice() const {
    if (auto* files = dynamic_cast<CFileSelectController*>(GetPrevious()))
        if (IStorageDevice* d = files->GetSourceDevice())
            return d;
    RecoverySource source;
    GetSource(source);
    return source.device;
}

bool CSaveFileController::CheckEncryptedTarget(const std::string& target) {
    auto* folder = dynamic_cast<CFileSystemNode*>(m_root);
    FileTreeCounters c;
    if (!folder || !folder->GetCounters(&c))
        return false;
    if (c.checkedEncryptedFiles == 0)
        return true;
    bool known = false;
    if (IsNtfsTarget(target, platform::ReadMountInfo(), &known) || !known)
        return true;
    m_context.Services().MessageBox(uistr::kEncryptedNeedsNtfs, kMbInformation, kMbOk);
    return false;
}

void CSaveFileController::Next() {
    IUiServices& ui = m_context.Services();
    const std::string target = m_page.GetTargetFolder();
    if (const int code = ValidateTargetFolder(target)) {
        ui.MessageBox(TargetFolderMessageId(code), kMbInformation, kMbOk);
        return;
    }
    IStorageDevice* device = SourceDevice();
    if (IsSourceDrive(target, DriveOfSourceDevice(device)) &&
        ui.MessageBox(uistr::kSameDriveCaution, kMbWarning, kMbYes | kMbNo) != kAnswerYes)
        return;
    if (!CheckEncryptedTarget(target))
        return;
    if (!m_page.HasFreeSpace()) {
        ui.MessageBox(uistr::kNotEnoughFreeSpace, kMbWarning, kMbOk);
        return;
    }
    LogRecoveryStage(kStageRestoringFiles);
    RecoveryOutcome outcome = ui.RunRecoveringDialog(m_root, device, target);
    m_filesToRecover = outcome.filesToRecover;
    m_filesRecovered = outcome.filesRecovered;
    m_target = target;
    char line[512];
    std::snprintf(line, sizeof line, "%d File are to be recovered, recovered %d", m_filesToRecover, m_filesRecovered);
    WriteActivityLine(line);
    std::snprintf(line, sizeof line, "Files are saved in %s", target.c_str());
    WriteActivityLine(line);
    m_folders = std::move(outcome.folders);
    m_cancelled = outcome.cancelled;
    if (CSaveResultController* result = GetSaveResultController())
        MoveTo(result);
}

// ---- Result step -----------------------------------------------------------------------------

CSaveResultController::CSaveResultController(AppContext& context, ISheet* sheet)
    : CWizardPageControllerBase(sheet, kPageSaveResult), m_context(context) {}

SaveResultSummary CSaveResultController::Summary() const {
    SaveResultSummary s;
    if (auto* save = dynamic_cast<CSaveFileController*>(GetPrevious())) {
        for (int i = 0; i < save->GetSavedFolderCount(); ++i)
            s.folders.push_back(save->GetSavedFolder(i));
        s.targetFolder = save->TargetFolder();
        s.filesRecovered = save->FilesRecovered();
        s.filesToRecover = save->FilesToRecover();
        s.cancelled = save->Cancelled();
    }
    return s;
}

void CSaveResultController::BackToFileList() {
    if (IWizardPageController* files = m_context.Controller(kPageFileSelect))
        files->Activate();
}

CSaveFileController* GetSaveFileController() {
    return dynamic_cast<CSaveFileController*>(GetWizardController(kPageSaveFile));
}

CSaveResultController* GetSaveResultController() {
    return dynamic_cast<CSaveResultController*>(GetWizardController(kPageSaveResult));
}
