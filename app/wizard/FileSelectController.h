#pragma once
// The file selection step (page 9), shared by every recovery mode: it owns the tree of found
// files shown to the user from SetFileTree on, hands it to the save step on Next, and runs the
// page's commands that need no window: the preview checks, the recovery of one file, the
// status texts. The page window shows the model and forwards the user's clicks.
#include "app/wizard/PageController.h"
#include "filesystems/FileNode.h"
#include "ui/views/SerialDevice.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class AppContext;
class IFindFileView;

// What the file page shows, without windows.
class CFileSelectPageModel {
public:
    CFileSelectPageModel() = default;
    ~CFileSelectPageModel();
    CFileSelectPageModel(const CFileSelectPageModel&) = delete;
    CFileSelectPageModel& operator=(const CFileSelectPageModel&) = delete;

    // Shows `root` (null clears) read through `device` (not owned; the page wraps it so that
    // its readers take turns).
    void SetRoot(FileTreePtr root, IStorageDevice* device);
    // Frees the shown tree (a derived tree lets go of the tree it borrows from) and drops the
    // device.
    void ClearTrees();
    CFileNode* Root() const { return m_root.get(); }
    // The serialising wrapper over the source device, or null.
    IStorageDevice* Device() const { return m_device.get(); }

    // "Total %s in %d files" and "Selected %s in %d files" (or "No file selected" before any
    // change of ticks) from the root's counters.
    const std::string& LeftStatus() const { return m_left; }
    const std::string& RightStatus() const { return m_right; }
    // After ticks changed: recounts the root and refreshes both texts.
    void RefreshStatus();

    // The search tab: the matches of the last search (null-free, owned by the tree) and its
    // caption; cleared with the tree.
    void SetSearchResult(const std::vector<CFileNode*>& nodes, const std::string& description);
    void ClearSearch();
    bool HasSearch() const { return m_hasSearch; }
    const std::vector<CFileNode*>& SearchNodes() const { return m_searchNodes; }
    const std::string& SearchCaption() const { return m_searchCaption; }
    // Grows with every change of the search tab (the window compares it).
    int SearchGeneration() const { return m_searchGeneration; }

    // The search tab: caption "Search Files (%s) ", or "Search Files (%.26s...)" for a
    // description longer than 30 characters.
    static std::string SearchTabCaption(const std::string& description);

    // The window's hook: called after the tree or the texts changed.
    std::function<void()> onChanged;

private:
    void Changed() {
        if (onChanged)
            onChanged();
    }
    FileTreePtr m_root;
    std::unique_ptr<CSerialDevice> m_device;
    std::string m_left, m_right;
    bool m_hasSearch = false;
    std::vector<CFileNode*> m_searchNodes;
    std::string m_searchCaption;
    int m_searchGeneration = 0;
};

class CFileSelectController : public CWizardPageControllerBase {
public:
    CFileSelectController(AppContext& context, ISheet* sheet);
    ~CFileSelectController() override;

    // Gives a scan's tree to the step and shows it; the tree is read through the device of the
    // chain's source (GetSource().device).
    void SetFileTree(FileTreePtr root);
    CFileNode* GetFileTree() const { return m_page.Root(); }
    CFileSelectPageModel& Page() { return m_page; }
    // The device the page reads through (the serialising wrapper), or null.
    IStorageDevice* GetSourceDevice() const { return m_page.Device(); }

    void Activate() override;
    void Back() override;
    void Next() override;
    void Reset() override;
    int GetControllerType() const override { return kControllerFileSelect; }
    int GetScanKind() const override;

    // Page commands. `node` is the file selected in the shown list (null: none).
    // The preview checks; true (and the preview shown) when the file could be previewed.
    bool Preview(CFileNode* node);
    // Why a node cannot be previewed: a string id (267 to 271), or 0 when it can.
    static int PreviewRefusalId(const CFileNode* node);
    // Recovers one file through the save dialog; 1 when it was recovered.
    int RecoverSingleFile(CFileNode* node);
    // "Search files": the search dialog over the shown tree from `folder` (the root when null);
    // true when it found files, which then fill the search tab.
    bool SearchFiles(CFileNode* folder);
    // "Find File": the find dialog over the page's file view.
    void FindFile(IFindFileView& view);
    // "Find File" from the page with tab `activeTab` shown: on the search tab (1, while a search
    // is shown) over the search list, otherwise over the folder tree and its file list.
    void FindFile(int activeTab, IFindFileView& filesView, IFindFileView& searchView);
    // "Properties" of the tree's selected folder or the list's selected file (nothing without
    // one): the properties dialog with the node's rows.
    void ShowProperties(const CFileNode* node);

    // Runs after a tree was shown, when the scan kind is not 0 (the recovery-state save of the
    // Deep Scan and Lost Partition modes plugs in here).
    std::function<void(CFileSelectController&)> saveRecoveryStates;

    // ---- Deep Scan and Lost Partition Recovery: the recovery-state files ----
    // The shown tree in the file-tree section; restored, it is read through the chain's source.
    int SaveState(IRSData* store) override;
    int RestoreState(IRSData* store) override;

private:
    AppContext& m_context;
    CFileSelectPageModel m_page;
};

// The step's controller in the current context, or null.
CFileSelectController* GetFileSelectController();
