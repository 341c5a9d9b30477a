#pragma once
// The save target step (page 6) and the result step (page 5): the target folder is checked,
// the recovering dialog copies the ticked files, and the result page shows the counts and the
// folders written.
#include "app/wizard/PageController.h"
#include "app/wizard/TargetFolder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class AppContext;
class CFileNode;

// What the save page shows and edits, without windows.
class CSaveFilePageModel {
public:
    // Selection to save; clears the target and the space figures.
    void Reset(std::uint64_t selectedBytes, std::uint32_t selectedFiles);
    // The folder the user typed or picked; refreshes the space figures.
    void SetTargetFolder(const std::string& path);
    // The edit's text without trailing blanks.
    std::string GetTargetFolder() const;
    // Refreshes the space figures; true when this user may write at least the selected bytes.
    bool HasFreeSpace();
    std::uint64_t SelectedBytes() const { return m_selectedBytes; }
    std::uint32_t SelectedFiles() const { return m_selectedFiles; }
    const TargetSpace& Space() const { return m_space; }
    // "You have %s selected in %d files".
    std::string SummaryText() const;

    std::function<void()> onChanged;

private:
    void RefreshSpace();
    std::string m_target;
    std::uint64_t m_selectedBytes = 0;
    std::uint32_t m_selectedFiles = 0;
    TargetSpace m_space;
};

class CSaveFileController : public CWizardPageControllerBase {
public:
    CSaveFileController(AppContext& context, ISheet* sheet);

    // The tree whose ticked files are saved (not owned: the file page keeps it).
    void SetSaveSource(CFileNode* root);
    CSaveFilePageModel& Page() { return m_page; }

    void Next() override;
    void Reset() override;

    int FilesToRecover() const { return m_filesToRecover; }
    int FilesRecovered() const { return m_filesRecovered; }
    bool Cancelled() const { return m_cancelled; }
    std::string GetSavedFolder(int index) const;
    int GetSavedFolderCount() const { return static_cast<int>(m_folders.size()); }
    const std::string& TargetFolder() const { return m_target; }

private:
    // The device the files are read through: the file page's, else the chain's source.
    IStorageDevice* SourceDevice() const;
    bool CheckEncryptedTarget(const std::string& target);

    AppContext& m_context;
    CSaveFilePageModel m_page;
    CFileNode* m_root = nullptr;
    int m_filesToRecover = 0;
    int m_filesRecovered = 0;
    std::vector<std::string> m_folders;
    std::string m_target;
    bool m_cancelled = false;
};

// What the result page shows.
struct SaveResultSummary {
    std::vector<std::string> folders;
    std::string targetFolder;
    int filesRecovered = 0;
    int filesToRecover = 0;
    bool cancelled = false;  // the user stopped the recovery
};

class CSaveResultController : public CWizardPageControllerBase {
public:
    CSaveResultController(AppContext& context, ISheet* sheet);
    // From the save step that came before (empty without one).
    SaveResultSummary Summary() const;
    // "Back To File List": the file page again, with its tree and ticks.
    void BackToFileList();

private:
    AppContext& m_context;
};

CSaveFileController* GetSaveFileController();
CSaveResultController* GetSaveResultController();
