#include "app/wizard/UiServices.h"

#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/StringTable.h"

RecoveryOutcome IUiServices::RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& outputFolder) {
    CRecoveryProgress progress;
    return RunRecoveryWalk(root, device, outputFolder, progress);
}

int IUiServices::RunSingleFileDialog(IStorageDevice* device, CFileNode* node, const std::string& targetPath) {
    CRecoveryProgress progress;
    bool failed = false;
    const int result = RunSingleFileRecovery(node, device, targetPath, progress, &failed);
    if (result != 1 && failed)
        MessageBox(uistr::kFailedToRecoverFile, kMbWarning, kMbOk);
    return result;
}

std::string IUiServices::SaveFileDialog(const std::string&, const std::string&) { return ""; }

void IUiServices::PreviewFile(IStorageDevice*, CFileNode*) {}

bool IUiServices::ShowSearchDialog(CFileNode*, CFileNode*, SearchResult&, std::string&) { return false; }

void IUiServices::ShowFindDialog(IFindFileView&) {}
