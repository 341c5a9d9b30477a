#pragma once
// Everything a controller asks of the user or of the window layer, as calls that return their
// answers. The program implements it with the skinned dialogs; tests script it.
#include <cstdint>
#include <memory>
#include <string>

#include "filesystems/DIRBuildCallback.h"
#include "app/wizard/RecoveryWalk.h"
#include "ui/views/PropertyRows.h"

class CFileNode;
class IStorageDevice;
class IFindFileView;
struct SearchResult;

class IDeepScanProgress;
class CLostPartitionSearchModel;

// Answers of MessageBox and CheckBoxPrompt.
enum UiAnswer : int { kAnswerOk = 1, kAnswerYes = 1, kAnswerCancel = 2, kAnswerNo = 2 };

// A notice shown while the program is busy; gone when the object is destroyed.
class IWaitingNotice {
public:
    virtual ~IWaitingNotice() = default;
};

// A directory-build progress dialog shown while it exists; the engine calls it on its worker.
class IBuildProgress : public IDIRBuildCallback {
public:
    // True once the user cancelled.
    virtual bool Cancelled() const = 0;
};

class IUiServices {
public:
    virtual ~IUiServices() = default;
    // The skinned message box with the text of `stringId`; kind and buttons as the control kit's
    // message box takes them (MessageBoxKind, MessageBoxFlags). Returns a UiAnswer.
    virtual int MessageBox(int stringId, int kind, std::uint16_t buttons) = 0;
    // Same, with a text made by the caller (formatted strings).
    virtual int MessageText(int stringId, const std::string& text, int kind, std::uint16_t buttons) = 0;
    // The prompt with a "Don't show this message again." box; `checked` in and out.
    virtual int CheckBoxPrompt(int stringId, int kind, std::uint16_t buttons, bool& checked) = 0;
    // A file to open ("" when cancelled); `filter` as "Name|pattern|Name|pattern".
    virtual std::string OpenFileDialog(const std::string& filter) = 0;
    // A folder ("" when cancelled).
    virtual std::string ChooseFolder(const std::string& start) = 0;
    // Shows the waiting notice with the text of `stringId` until the object is destroyed.
    virtual std::unique_ptr<IWaitingNotice> ShowWaiting(int stringId) = 0;
    // A directory-build progress dialog, modeless, with the main window disabled meanwhile.
    virtual std::unique_ptr<IBuildProgress> CreateBuildProgress() = 0;
    // The same dialog titled `title`, for work that cannot be stopped: it has no Cancel button.
    virtual std::unique_ptr<IBuildProgress> CreateUncancellableProgress(const std::string& title) {
        (void)title;
        return CreateBuildProgress();
    }
    // Opens the help page of a topic, and a web address, in the browser.
    virtual void ShowHelpTopic(int topicId) = 0;
    virtual void OpenUrl(const std::string& url) = 0;

    // ---- Deleted File Recovery steps: recovery dialogs, single-file save, preview ----
    // The recovering dialog: recovers the checked file systems of `root` into `outputFolder`
    // (RunRecoveryWalk) while it shows the progress. The default runs the walk without a window.
    virtual RecoveryOutcome RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& outputFolder);
    // The single-file recovering dialog: 1 recovered, 2 failed or cancelled (a failure that is no
    // cancel shows "Failed to recover this file." first). The default runs without a window.
    virtual int RunSingleFileDialog(IStorageDevice* device, CFileNode* node, const std::string& targetPath);
    // Where to save one found file ("" when cancelled); `filter` as "Name|pattern|Name|pattern".
    virtual std::string SaveFileDialog(const std::string& defaultName, const std::string& filter);
    // Shows a found file that passed the preview checks (loading, then the viewer that fits).
    virtual void PreviewFile(IStorageDevice* device, CFileNode* node);
    // The file search dialog over the tree of `root`, starting in `folder`: true when it found
    // files (appended to `result`); `description` receives the search's text for the tab.
    virtual bool ShowSearchDialog(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description);
    // The find dialog over the file page's view (modal; it moves the view's selection).
    virtual void ShowFindDialog(IFindFileView& view);

    // ---- Deep Scan Recovery steps ----
    // The deep-scan progress dialog, modeless while the object exists (the main window is
    // disabled meanwhile); the search's worker reports through it. The default has no window.
    virtual std::unique_ptr<IDeepScanProgress> CreateDeepScanProgress();
    // Lost Partition Recovery.
    // The lost-partition search dialog over `model`, modeless with the main window disabled,
    // until the returned object is destroyed.
    virtual std::unique_ptr<IWaitingNotice> ShowPartitionSearch(CLostPartitionSearchModel& model) {
        (void)model;
        return nullptr;
    }
    // The open-disk-image wizard: the chosen ".edi" path, "" when cancelled.
    virtual std::string ChooseDiskImage() { return {}; }

    // ---- Deleted File Recovery: properties and the volume page's image commands ----
    // The properties dialog (modal) with `rows` ("Name", "Value"); `templateId` 333 for a found
    // file or folder, 319 for a found partition. The default shows nothing.
    virtual void ShowProperties(int templateId, const std::string& title, const PropertyRows& rows) {
        (void)templateId;
        (void)title;
        (void)rows;
    }
    // The create-image wizard over `source` (not owned) named `caption`, with `heads` heads per
    // cylinder in the image header: the new image's path when the user wants it listed, else "".
    virtual std::string CreateImageOfSelected(IStorageDevice* source, const std::string& caption, std::uint32_t heads) {
        (void)source;
        (void)caption;
        (void)heads;
        return {};
    }
    // The advanced settings dialog (modal) over the process's scan options.
    virtual void ShowAdvancedSettings() {}
};
