#pragma once
// The program's IUiServices: the skinned message box and prompts, the toolkit's file and folder
// dialogs, the waiting dialog, the directory-build progress dialog and the browser.
#include "app/wizard/UiServices.h"
#include "platform/AppPaths.h"

#include <wx/wx.h>

class CWxUiServices : public IUiServices {
public:
    explicit CWxUiServices(const platform::AppPaths& paths) : m_paths(paths) {}
    void SetMainWindow(wxWindow* w) { m_main = w; }

    int MessageBox(int stringId, int kind, std::uint16_t buttons) override;
    int MessageText(int stringId, const std::string& text, int kind, std::uint16_t buttons) override;
    int CheckBoxPrompt(int stringId, int kind, std::uint16_t buttons, bool& checked) override;
    std::string OpenFileDialog(const std::string& filter) override;
    std::string ChooseFolder(const std::string& start) override;
    std::unique_ptr<IWaitingNotice> ShowWaiting(int stringId) override;
    std::unique_ptr<IBuildProgress> CreateBuildProgress() override;
    std::unique_ptr<IBuildProgress> CreateUncancellableProgress(const std::string& title) override;
    void ShowHelpTopic(int topicId) override;
    void OpenUrl(const std::string& url) override;
    // Lost Partition Recovery.
    std::unique_ptr<IWaitingNotice> ShowPartitionSearch(CLostPartitionSearchModel& model) override;
    std::string ChooseDiskImage() override;

    // ---- Deleted File Recovery steps ----
    RecoveryOutcome RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& outputFolder) override;
    int RunSingleFileDialog(IStorageDevice* device, CFileNode* node, const std::string& targetPath) override;
    std::string SaveFileDialog(const std::string& defaultName, const std::string& filter) override;
    void PreviewFile(IStorageDevice* device, CFileNode* node) override;
    bool ShowSearchDialog(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description) override;
    void ShowFindDialog(IFindFileView& view) override;

    // ---- Deep Scan Recovery steps ----
    std::unique_ptr<IDeepScanProgress> CreateDeepScanProgress() override;

    // ---- Deleted File Recovery: properties and image commands ----
    void ShowProperties(int templateId, const std::string& title, const PropertyRows& rows) override;
    std::string CreateImageOfSelected(IStorageDevice* source, const std::string& caption, std::uint32_t heads) override;
    void ShowAdvancedSettings() override;

private:
    const platform::AppPaths& m_paths;
    wxWindow* m_main = nullptr;
};
