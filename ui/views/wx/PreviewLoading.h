#pragma once
// Loading a found file for preview: the file is copied out of the scanned device into a temp
// file of its own on a worker thread, behind a dialog with progress, remaining time and
// Cancel; then the file goes to the rich-text dialog, the companion document viewer, or the
// general preview window.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include <wx/wx.h>

#include "ui/controls/ButtonPlus.h"
#include "ui/controls/SkinDialog.h"

class CFileNode;
class IStorageDevice;
class CProgressBar;

enum PreviewLoadResult : int { PREVIEW_LOADED = 1, PREVIEW_NOT_LOADED = 2 };

// On the kit's skinned base: "Loading file...", the progress bar, the time and the percentage,
// Cancel and the close button (both cancel the copy).
class CPreviewLoadingDlg : public CSearchSuperDlg {
public:
    CPreviewLoadingDlg(wxWindow* parent, IStorageDevice* device, CFileNode* node,
                       const std::string& tempPath);
    ~CPreviewLoadingDlg() override;
    // Runs the copy; PREVIEW_LOADED when the file was written, else PREVIEW_NOT_LOADED (a
    // failure, which shows "Failed to preview this file." unless `quiet`, or a cancel).
    int RunLoad(bool quiet = false);
    void Cancel();
    CButtonPlus* CancelButton() const { return m_cancel; }
    CButtonPlus* CloseButton() const { return m_close; }
    CProgressBar* Gauge() const { return m_gauge; }

protected:
    wxSize InitialClientSize() const override { return wxSize(380, 150); }
    void OnInitDialog() override;
    void OnEscape() override { Cancel(); }

private:
    void UpdateTexts();
    IStorageDevice* m_device;
    CFileNode* m_node;
    std::string m_path;
    std::atomic<bool> m_cancelFlag{false};
    std::atomic<std::uint64_t> m_done{0};
    std::uint64_t m_total = 0;
    wxLongLong m_start;
    wxStaticText* m_status = nullptr;
    wxStaticText* m_time = nullptr;
    wxStaticText* m_percent = nullptr;
    CProgressBar* m_gauge = nullptr;
    CButtonPlus* m_cancel = nullptr;
    CButtonPlus* m_close = nullptr;
};

// Why a node cannot be previewed ("" when it can): no node, a folder, encrypted, over 100 MiB.
std::string PreviewRefusal(const CFileNode* node);

// The whole preview of a found file. Word and Excel documents go to the companion viewer
// (CompanionViewerCommand, or `viewer`; "" for none); when it cannot be started the general
// preview opens instead.
void PreviewFoundFile(wxWindow* parent, IStorageDevice* device, CFileNode* node);
void PreviewFoundFile(wxWindow* parent, IStorageDevice* device, CFileNode* node, const std::string& viewer);

// Starts the viewer command with the argument "<temp>|<display name>" and waits for it with
// every window disabled while the UI keeps pumping. False when it could not be started.
bool RunCompanionViewer(const std::string& command, const std::string& tempPath,
                        const std::string& displayName);
