#include "ui/views/wx/PreviewLoading.h"

#include <chrono>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "ui/controls/BuildDirectoryDlg.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "logging/Log.h"
#include "platform/WorkerRun.h"
#include "recovery/FileRecovery.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/Resources.h"
#include "ui/views/CompanionViewer.h"
#include "ui/views/DocumentChecks.h"
#include "ui/views/FileListModel.h"
#include "ui/views/wx/FilePreviewDlg.h"
#include "ui/views/PreviewPaging.h"
#include "ui/views/PreviewTempFiles.h"
#include "ui/views/RtfReader.h"

namespace {

// Progress of the copy: counts bytes, and gives -1 once the user cancelled.
class CPreviewLoadCallback : public IFileRecoverCallback {
public:
    CPreviewLoadCallback(std::atomic<std::uint64_t>* done, std::atomic<bool>* cancel)
        : m_done(done), m_cancel(cancel) {}
    int SetTotals(int, std::uint64_t) override { return Poll(); }
    int AddFilesDone(int) override { return Poll(); }
    int AddBytesDone(std::uint64_t n) override {
        m_done->fetch_add(n);
        return Poll();
    }
    int SubtractBytesDone(std::uint32_t n) override {
        m_done->fetch_sub(std::min<std::uint64_t>(n, m_done->load()));
        return Poll();
    }
    int SetCurrentFile(const char*) override { return Poll(); }
    int Poll() override { return m_cancel->load() ? -1 : 0; }

private:
    std::atomic<std::uint64_t>* m_done;
    std::atomic<bool>* m_cancel;
};

std::string Hms(std::uint64_t seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", unsigned(seconds / 3600),
                  unsigned(seconds / 60 % 60), unsigned(seconds % 60));
    return buf;
}

bool EndsWithNoCase(const std::string& s, const char* suffix) {
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, suffix) == 0;
}

} // namespace

CPreviewLoadingDlg::CPreviewLoadingDlg(wxWindow* parent, IStorageDevice* device, CFileNode* node,
                                       const std::string& tempPath)
    : CSearchSuperDlg(303, parent), m_device(device), m_node(node), m_path(tempPath) {
    CreateDialog();
}

void CPreviewLoadingDlg::OnInitDialog() {
    using namespace uires;
    const wxSize c = GetClientSize();
    SetTitle("Loading...");
    ApplyShape();
    EnableSkin(101, wxRect(8, 2, c.x - 8, 28));
    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, 1156, wxPoint(c.x - 25, 7));
    m_close->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Cancel(); });
    m_status = new wxStaticText(this, 1162, "Loading file...", wxPoint(20, 42), wxSize(c.x - 40, 18),
                                wxST_NO_AUTORESIZE);
    m_gauge = new CProgressBar(this, 1016, wxPoint(20, 64), wxSize(c.x - 40, 18));
    m_gauge->SetRange(100);
    m_time = new wxStaticText(this, 1164, "00:00:00", wxPoint(20, 88), wxSize(160, 18), wxST_NO_AUTORESIZE);
    m_percent = new wxStaticText(this, 1163, "0%", wxPoint(c.x - 80, 88), wxSize(60, 18),
                                 wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
    m_cancel = new CButtonPlus(kBmpCancelNormal, kBmpCancelHover, kBmpCancelPressed, kBmpCancelDisabled);
    m_cancel->Create(this, MapControlId(kIdCancel));
    m_cancel->MoveTo((c.x - m_cancel->GetButtonSize().x) / 2, c.y - m_cancel->GetButtonSize().y - 8);
    m_cancel->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Cancel(); });
    CentreOnParent();
}

CPreviewLoadingDlg::~CPreviewLoadingDlg() = default;

void CPreviewLoadingDlg::Cancel() {
    m_cancelFlag.store(true);
    SetTitle("Cancelling...");
    if (m_status)
        m_status->SetLabel("Cancelling...");
    m_cancel->Disable();
}

void CPreviewLoadingDlg::UpdateTexts() {
    const std::uint64_t done = m_done.load();
    const int percent = m_total ? static_cast<int>(std::min<std::uint64_t>(100, done * 100 / m_total)) : 100;
    m_percent->SetLabel(wxString::Format("%d%%", percent));
    m_gauge->SetPos(percent);
    const std::uint64_t elapsedMs = static_cast<std::uint64_t>((wxGetLocalTimeMillis() - m_start).GetValue());
    if (elapsedMs <= 499)
        m_time->SetLabel(Hms(elapsedMs / 1000));
    else if (done == 0)
        m_time->SetLabel("Calculating...");
    else
        m_time->SetLabel(Hms((m_total > done ? m_total - done : 0) * elapsedMs / done / 1000 + 1));
}

int CPreviewLoadingDlg::RunLoad(bool quiet) {
    if (!m_node || !m_node->m_pProperties || m_path.empty())
        return PREVIEW_NOT_LOADED;
    m_total = m_node->m_pProperties->GetFileSize();
    m_start = wxGetLocalTimeMillis();
    UpdateTexts();
    Show();
    wxWindowDisabler others(this);
    CPreviewLoadCallback callback(&m_done, &m_cancelFlag);
    RecoverFileJob job;
    job.callback = &callback;
    job.device = m_device;
    job.node = m_node;
    job.targetPath = m_path;
    int ok = 0;
    auto last = std::chrono::steady_clock::now();
    const bool ran = platform::RunWorker(
        job.done, [&] { ok = RecoverFileExclusive(&job); }, 10,
        [&] {
            if (std::chrono::steady_clock::now() - last > std::chrono::milliseconds(500)) {
                last = std::chrono::steady_clock::now();
                UpdateTexts();
            }
        });
    if (!ran) {
        ReleaseTrace("Failed to start the thread that loads the preview.");
        job.result = kRecoverFailed;
    }
    Hide();
    if (ok == 1 && !m_cancelFlag.load()) {
        m_gauge->SetPos(100);
        return PREVIEW_LOADED;
    }
    if (job.result == kRecoverFailed && !m_cancelFlag.load() && !quiet)
        ShowMessageBox(kMbInformation, "Failed to preview this file.");
    return PREVIEW_NOT_LOADED;
}

std::string PreviewRefusal(const CFileNode* node) {
    if (!node || !node->m_pProperties)
        return "Please select a file to preview!";
    const IFileProperties* p = node->m_pProperties;
    if (p->GetAttributes() & FILEATTR_DIRECTORY)
        return "Cannot preview directory.";
    if (p->GetAttributes() & FILEATTR_ENCRYPTED)
        return "Cannot preview encrypted file.";
    if (p->GetFileSize() > kMaxPreviewFileSize)
        return "Cannot preview a file over 100M.";
    return {};
}

bool RunCompanionViewer(const std::string& command, const std::string& tempPath,
                        const std::string& displayName) {
    // The windows stay disabled and painted while the viewer runs.
    wxWindowDisabler all;
    return RunCompanionViewer(command, tempPath, displayName, [] { wxYield(); });
}

void PreviewFoundFile(wxWindow* parent, IStorageDevice* device, CFileNode* node) {
    PreviewFoundFile(parent, device, node, CompanionViewerCommand());
}

void PreviewFoundFile(wxWindow* parent, IStorageDevice* device, CFileNode* node,
                      const std::string& viewer) {
    const std::string refusal = PreviewRefusal(node);
    if (!refusal.empty()) {
        ShowMessageBox(kMbWarning, refusal);
        return;
    }
    CTempPreviewFile temp; // deleted when the preview ends, whatever the way out
    CPreviewLoadingDlg loading(parent, device, node, temp.Path());
    if (loading.RunLoad() != PREVIEW_LOADED)
        return;
    const std::string name = node->m_pProperties->GetName() ? node->m_pProperties->GetName() : "";
    if (IsRtfFile(temp.Path())) {
        CRtfPreviewerDlg dlg(parent, temp.Path(), name);
        dlg.ShowModal();
        return;
    }
    bool office = IsOfficeDocument(temp.Path());
    if (!office && (EndsWithNoCase(name, ".xls") || EndsWithNoCase(name, ".doc")))
        ShowMessageBox(kMbWarning, "Invalid Word or Excel document.");
    else if (EndsWithNoCase(name, ".xlsx") || EndsWithNoCase(name, ".docx"))
        office = true;
    if (office && RunCompanionViewer(viewer, temp.Path(), name))
        return;
    if (office) {
        if (const std::string why = CompanionViewerRefusal(name); !why.empty())
            ShowMessageBox(kMbInformation, why);
    }
    CFilePreviewDlg dlg(parent, temp.Path(), name);
    dlg.ShowModal();
}
