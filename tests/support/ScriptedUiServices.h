#pragma once
// An IUiServices for headless tests: the test queues the prompts it expects, each with its
// answer; any prompt that is not next in the queue fails the test, and so does a prompt left
// over when the object is destroyed.
#include "app/wizard/UiServices.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

class ScriptedUiServices : public IUiServices {
public:
    enum class Kind { Message, CheckBox, OpenFile, Folder, Waiting, Progress, SaveFile, DeepScan, PartitionSearch, DiskImageWizard, CreateImage, Settings };
    struct Expectation {
        Kind kind;
        int stringId = 0;
        int answer = 0;          // message and check-box answers
        bool checked = false;    // check-box state to hand back
        std::string path;        // file and folder dialogs
        int cancelAtStep = -1;   // progress: the n-th callback (from 0) answers -1
    };

    ~ScriptedUiServices() override;

    ScriptedUiServices& ExpectMessage(int stringId, int answer);
    ScriptedUiServices& ExpectCheckBox(int stringId, int answer, bool checked);
    ScriptedUiServices& ExpectOpenFile(const std::string& path);
    ScriptedUiServices& ExpectFolder(const std::string& path);
    ScriptedUiServices& ExpectWaiting(int stringId);
    ScriptedUiServices& ExpectProgress(int cancelAtStep = -1);

    bool Done() const { return m_queue.empty(); }
    // What was asked, in order ("message 214", "help 15", ...).
    const std::vector<std::string>& Log() const { return m_log; }
    // Texts passed to MessageText, in order.
    const std::vector<std::string>& Texts() const { return m_texts; }

    int MessageBox(int stringId, int kind, std::uint16_t buttons) override;
    int MessageText(int stringId, const std::string& text, int kind, std::uint16_t buttons) override;
    int CheckBoxPrompt(int stringId, int kind, std::uint16_t buttons, bool& checked) override;
    std::string OpenFileDialog(const std::string& filter) override;
    std::string ChooseFolder(const std::string& start) override;
    std::unique_ptr<IWaitingNotice> ShowWaiting(int stringId) override;
    std::unique_ptr<IBuildProgress> CreateBuildProgress() override;
    void ShowHelpTopic(int topicId) override;
    void OpenUrl(const std::string& url) override;

    // ---- Deleted File Recovery steps ----
    ScriptedUiServices& ExpectSaveFile(const std::string& path);
    // The recovering dialog's Cancel is pressed once this many files are done (-1: never).
    int cancelRecoveryAtFile = -1;
    // The recovering dialog's user cancels once the file of this name has had its first bytes
    // written ("": never).
    std::string cancelRecoveryInFile;
    // What the preview was asked to show.
    std::function<void(IStorageDevice*, CFileNode*)> onPreview;
    RecoveryOutcome RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& outputFolder) override;
    std::string SaveFileDialog(const std::string& defaultName, const std::string& filter) override;
    void PreviewFile(IStorageDevice* device, CFileNode* node) override;
    // What the search and find dialogs do (nothing found / nothing when unset).
    std::function<bool(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description)> onSearch;
    std::function<void(IFindFileView& view)> onFind;
    bool ShowSearchDialog(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description) override;
    void ShowFindDialog(IFindFileView& view) override;

    // ---- Deep Scan Recovery steps ----
    // The deep-scan progress dialog; with cancelAtChunk >= 0 the user cancels once that many
    // chunks were searched.
    ScriptedUiServices& ExpectDeepScan(int cancelAtChunk = -1);
    std::unique_ptr<IDeepScanProgress> CreateDeepScanProgress() override;
    // Lost Partition Recovery.
    // The search dialog; with `cancelAfterSteps` >= 0 the search stops after that many
    // candidates as if the user had answered Yes to the stop question.
    ScriptedUiServices& ExpectPartitionSearch(long long cancelAfterSteps = -1);
    // The open-disk-image wizard, answered with `path` ("" = cancelled).
    ScriptedUiServices& ExpectDiskImageWizard(const std::string& path);
    std::unique_ptr<IWaitingNotice> ShowPartitionSearch(CLostPartitionSearchModel& model) override;
    std::string ChooseDiskImage() override;

    // ---- Deleted File Recovery: properties and image commands ----
    struct PropertiesShown {
        int templateId;
        std::string title;
        PropertyRows rows;
    };
    // Every properties dialog asked for, in order.
    std::vector<PropertiesShown> properties;
    // The create-image wizard, answered with `path` ("" = nothing to list); what it was asked.
    ScriptedUiServices& ExpectCreateImage(const std::string& path);
    std::string createImageCaption;
    std::uint32_t createImageHeads = 0;
    IStorageDevice* createImageSource = nullptr;
    ScriptedUiServices& ExpectSettings();
    void ShowProperties(int templateId, const std::string& title, const PropertyRows& rows) override;
    std::string CreateImageOfSelected(IStorageDevice* source, const std::string& caption, std::uint32_t heads) override;
    void ShowAdvancedSettings() override;

private:
    Expectation Take(Kind kind, int stringId, const char* what);
    std::deque<Expectation> m_queue;
    std::vector<std::string> m_log;
    std::vector<std::string> m_texts;
};
