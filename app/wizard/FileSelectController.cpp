#include "app/wizard/FileSelectController.h"

#include "app/ActivityLog.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/SaveFileController.h"
#include "app/wizard/TargetFolder.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "recovery/ScanStateSections.h"
#include "tools/FileSearch.h"
#include "platform/FileTypeMap.h"
#include "platform/TargetTree.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"
#include "ui/views/FileListModel.h"

#include <cstdio>
#include <unistd.h>

namespace {

constexpr std::uint64_t kMaxPreviewBytes = 104857600;  // 100 MiB; exactly this passes

std::string CountText(int formatId, std::uint64_t bytes, std::uint32_t files) {
    char text[160];
    std::snprintf(text, sizeof text, uistr::LoadUiString(formatId), uifmt::FormatSize(bytes).c_str(), static_cast<int>(files));
    return text;
}

FileTreeCounters CountersOf(CFileNode* root) {
    FileTreeCounters c;
    if (auto* folder = dynamic_cast<CFileSystemNode*>(root))
        folder->GetCounters(&c);
    return c;
}

} // namespace

// ---- Page model ------------------------------------------------------------------------------

CFileSelectPageModel::~CFileSelectPageModel() { ClearTrees(); }

void CFileSelectPageModel::SetRoot(FileTreePtr root, IStorageDevice* device) {
    ClearTrees();
    if (!root)
        return;
    m_root = std::move(root);
    m_device = device ? std::make_unique<CSerialDevice>(device) : nullptr;
    const FileTreeCounters c = CountersOf(m_root.get());
    m_left = CountText(uistr::kTotalInFiles, c.bytes, c.files);
    m_right = uistr::UiString(uistr::kNoFileSelected);
    Changed();
}

void CFileSelectPageModel::SetSearchResult(const std::vector<CFileNode*>& nodes, const std::string& description) {
    m_hasSearch = true;
    ++m_searchGeneration;
    m_searchNodes = nodes;
    m_searchCaption = SearchTabCaption(description);
    RefreshStatus();  // an auto-select search ticked files
}

void CFileSelectPageModel::ClearSearch() {
    const bool had = m_hasSearch;
    m_hasSearch = false;
    ++m_searchGeneration;
    m_searchNodes.clear();
    m_searchCaption.clear();
    if (had)
        Changed();
}

void CFileSelectPageModel::ClearTrees() {
    ++m_searchGeneration;
    m_hasSearch = false;
    m_searchNodes.clear();
    m_searchCaption.clear();
    const bool had = m_root != nullptr;
    m_root.reset();
    m_device.reset();
    m_left.clear();
    m_right.clear();
    if (had)
        Changed();
}

void CFileSelectPageModel::RefreshStatus() {
    if (m_root)
        m_root->RecountCounters();
    const FileTreeCounters c = CountersOf(m_root.get());
    m_left = CountText(uistr::kTotalInFiles, c.bytes, c.files);
    m_right = CountText(uistr::kSelectedInFiles, c.checkedBytes, c.checkedFiles);
    Changed();
}

std::string CFileSelectPageModel::SearchTabCaption(const std::string& description) {
    char text[128];
    if (description.size() > 30)
        std::snprintf(text, sizeof text, "Search Files (%.26s...)", description.c_str());
    else
        std::snprintf(text, sizeof text, "Search Files (%s) ", description.c_str());
    return text;
}

// ---- Controller ------------------------------------------------------------------------------

CFileSelectController::CFileSelectController(AppContext& context, ISheet* sheet)
    : CWizardPageControllerBase(sheet, kPageFileSelect), m_context(context) {}

CFileSelectController::~CFileSelectController() = default;

int CFileSelectController::GetScanKind() const {
    const IWizardPageController* previous = GetPrevious();
    return previous ? previous->GetScanKind() : kScanNone;
}

void CFileSelectController::SetFileTree(FileTreePtr root) {
    RecoverySource source;
    GetSource(source);
    m_page.SetRoot(std::move(root), source.device);
    LogRecoveryStage(kStageDisplayingTree);
    if (GetScanKind() != kScanDeletedFile && saveRecoveryStates)
        saveRecoveryStates(*this);
}

void CFileSelectController::Activate() {
    if (m_page.Root() && Sheet())
        Sheet()->SetActivePage(kPageFileSelect);
}

void CFileSelectController::Back() {
    if (m_context.Services().MessageBox(uistr::kQuitSearchingQuestion, kMbQuestion, kMbYes | kMbNo) != kAnswerYes)
        return;
    Reset();
    if (IWizardPageController* previous = GetPrevious())
        previous->Activate();
}

void CFileSelectController::Next() {
    const FileTreeCounters c = CountersOf(m_page.Root());
    if (c.checkedFiles == 0) {
        m_context.Services().MessageBox(uistr::kSelectFilesToSave, kMbInformation, kMbOk);
        return;
    }
    CSaveFileController* save = GetSaveFileController();
    if (!save)
        return;
    save->SetSaveSource(m_page.Root());
    MoveTo(save);
}

void CFileSelectController::Reset() { m_page.ClearTrees(); }

int CFileSelectController::PreviewRefusalId(const CFileNode* node) {
    if (!node)
        return uistr::kSelectFileToPreview;
    const IFileProperties* p = node->m_pProperties;
    if (!p || p->GetFileSize() == 0)
        return uistr::kCannotPreviewFile;
    const std::uint32_t valid = p->GetValidFields();
    if (valid & VALIDFIELD_ATTRIBUTES) {
        if (p->GetAttributes() & FILEATTR_DIRECTORY)
            return uistr::kCannotPreviewDirectory;
        if (p->GetAttributes() & FILEATTR_ENCRYPTED)
            return uistr::kCannotPreviewEncrypted;
    }
    if ((valid & VALIDFIELD_SIZE) && p->GetFileSize() > kMaxPreviewBytes)
        return uistr::kCannotPreviewOver100M;
    return 0;
}

bool CFileSelectController::Preview(CFileNode* node) {
    if (const int refusal = PreviewRefusalId(node)) {
        m_context.Services().MessageBox(refusal, kMbInformation, kMbOk);
        return false;
    }
    m_context.Services().PreviewFile(m_page.Device(), node);
    return true;
}

int CFileSelectController::RecoverSingleFile(CFileNode* node) {
    IUiServices& ui = m_context.Services();
    if (!node || !node->m_pProperties) {
        ui.MessageBox(uistr::kSelectFileToRecover, kMbInformation, kMbOk);
        return 0;
    }
    const std::string name = node->m_pProperties->GetName();
    const std::string ext = FileNameExtension(name.c_str());
    std::string filter;
    if (!ext.empty()) {
        const FileTypeInfo* type = LookupFileType(name);
        const std::string description = type && !type->name.empty() ? type->name : ext + " File";
        filter = description + " (*." + ext + ")|*." + ext + "|";
    }
    filter += "All Files (*.*)|*.*||";
    const std::string target = ui.SaveFileDialog(name, filter);
    if (target.empty())
        return 0;

    RecoverySource source;
    GetSource(source);
    if (IsSourceDrive(target, DriveOfSourceDevice(source.device)) &&
        ui.MessageBox(uistr::kSameDriveFileCaution, kMbWarning, kMbYes | kMbNo) != kAnswerYes)
        return 0;
    if (node->m_pProperties->GetAttributes() & FILEATTR_ENCRYPTED) {
        bool known = false;
        const bool ntfs = IsNtfsTarget(target, platform::ReadMountInfo(), &known);
        if (known && !ntfs) {
            ui.MessageBox(uistr::kEncryptedFileNeedsNtfs, kMbWarning, kMbOk);
            return 0;
        }
    }
    if (node->m_pProperties->GetFileSize() > TargetFolderFreeBytes(target)) {
        ui.MessageBox(uistr::kNotEnoughSpaceForFile, kMbWarning, kMbOk);
        return 0;
    }
    if (ui.RunSingleFileDialog(m_page.Device(), node, target) != 1) {
        platform::TreeRemoveFile(target);
        return 0;
    }
    ui.MessageBox(uistr::kRecoverComplete, kMbInformation, kMbOk);
    return 1;
}

bool CFileSelectController::SearchFiles(CFileNode* folder) {
    CFileNode* root = m_page.Root();
    if (!root)
        return false;
    SearchResult result;
    std::string description;
    const bool found = m_context.Services().ShowSearchDialog(root, folder ? folder : root, result, description);
    if (found && !result.nodes.empty()) {
        m_page.ClearSearch();
        m_page.SetSearchResult(result.nodes, description);
    } else {
        m_page.RefreshStatus();
    }
    return found;
}

void CFileSelectController::FindFile(IFindFileView& view) {
    if (m_page.Root())
        m_context.Services().ShowFindDialog(view);
}

void CFileSelectController::FindFile(int activeTab, IFindFileView& filesView, IFindFileView& searchView) {
    FindFile(activeTab == 1 && m_page.HasSearch() ? searchView : filesView);
}

void CFileSelectController::ShowProperties(const CFileNode* node) {
    if (!node || !m_page.Root())
        return;
    m_context.Services().ShowProperties(333, "Properties", FilePropertyRows(node));
}

CFileSelectController* GetFileSelectController() {
    return dynamic_cast<CFileSelectController*>(GetWizardController(kPageFileSelect));
}

// ---- Deep Scan and Lost Partition Recovery: the recovery-state files ----

int CFileSelectController::SaveState(IRSData* store) {
    auto* root = dynamic_cast<CFileSystemNode*>(m_page.Root());
    return root ? SaveFileTree(store, root, nullptr) : 0;
}

int CFileSelectController::RestoreState(IRSData* store) {
    FileTreePtr root = LoadFileTree(store, nullptr);
    if (!root)
        return 0;
    RecoverySource source;
    GetSource(source);
    if (source.device)
        FitFileTreeToDevice(root.get(), source.device->GetSectorCount(),
                            GetScanOptions().MaxRawFileSize);
    m_page.SetRoot(std::move(root), source.device);
    return 1;
}
