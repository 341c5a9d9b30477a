#include "app/windows/WxUiServices.h"

#include "app/windows/DeepScanDialog.h"
#include "app/windows/RecoveryDialogs.h"
#include "filesystems/FileProperties.h"
#include "tools/windows/CreateImageWizard.h"
#include "tools/windows/FindFileDlg.h"
#include "tools/windows/SettingsDialog.h"
#include "ui/views/wx/PropertiesDlg.h"
#include "tools/windows/SearchFileDlg.h"
#include "ui/views/wx/PreviewLoading.h"

#include "app/windows/LostRecoveryWindows.h"
#include "logging/Log.h"
#include "platform/DesktopUser.h"
#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/PromptDlgs.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/timer.h>
#include <wx/utils.h>

#include <cerrno>
#include <sys/wait.h>

namespace {

class CWaitingNotice : public IWaitingNotice {
public:
    explicit CWaitingNotice(const std::string& text) : m_dlg(new CWaitingDlg) {
        m_dlg->text = text;
        m_dlg->CreateModeless();
    }
    ~CWaitingNotice() override { m_dlg->Destroy(); }

private:
    CWaitingDlg* m_dlg;
};

// The modeless directory-build dialog; the main window is disabled while it exists.
class CBuildProgress : public IBuildProgress {
public:
    explicit CBuildProgress(wxWindow* main, const std::string& title = std::string(), bool cancellable = true)
        : m_dlg(new CBuildDirectoryDlg), m_callback(m_dlg), m_main(main) {
        if (m_main)
            m_main->Disable();
        m_dlg->CreateModeless();
        if (!title.empty())
            m_dlg->SetTitle(ui::FromUtf8(title));
        m_dlg->SetNoCancel(!cancellable);
    }
    ~CBuildProgress() override {
        m_dlg->Destroy();
        if (m_main)
            m_main->Enable();
    }
    int BeginStage(const char* text, std::int32_t total) override { return m_callback.BeginStage(text, total); }
    int StepBy(std::int32_t count) override { return m_callback.StepBy(count); }
    int SetPos(std::int32_t position) override { return m_callback.SetPos(position); }
    int Reset() override { return m_callback.Reset(); }
    int Poll() override { return m_callback.Poll(); }
    bool Cancelled() const override { return m_dlg->IsCancelled(); }

private:
    CBuildDirectoryDlg* m_dlg;
    CDIRBuildCallback m_callback;
    wxWindow* m_main;
};

// "Name|pattern|Name|pattern" with the trailing bars of the program's filters removed.
wxString Wildcard(const std::string& filter) {
    std::string f = filter;
    while (!f.empty() && f.back() == '|')
        f.pop_back();
    return ui::FromUtf8(f);
}

} // namespace

int CWxUiServices::MessageBox(int stringId, int kind, std::uint16_t buttons) {
    return MessageText(stringId, uistr::UiString(stringId), kind, buttons);
}

int CWxUiServices::MessageText(int, const std::string& text, int kind, std::uint16_t buttons) {
    CMessageBoxDlg box;
    return box.ShowMessage(kind, buttons, nullptr, text.c_str());
}

int CWxUiServices::CheckBoxPrompt(int stringId, int, std::uint16_t, bool& checked) {
    CHasCheckboxPromptDlg dlg(uistr::UiString(stringId));
    const int result = dlg.DoModal();
    checked = dlg.CheckBox() && dlg.CheckBox()->GetValue();
    return result;
}

std::string CWxUiServices::OpenFileDialog(const std::string& filter) {
    wxFileDialog dlg(m_main, wxFileSelectorPromptStr, "", "", Wildcard(filter), wxFD_OPEN | wxFD_FILE_MUST_EXIST);
    return dlg.ShowModal() == wxID_OK ? ui::ToUtf8(dlg.GetPath()) : std::string();
}

std::string CWxUiServices::ChooseFolder(const std::string& start) {
    wxDirDialog dlg(m_main, wxDirSelectorPromptStr, ui::FromUtf8(start));
    return dlg.ShowModal() == wxID_OK ? ui::ToUtf8(dlg.GetPath()) : std::string();
}

std::unique_ptr<IWaitingNotice> CWxUiServices::ShowWaiting(int stringId) {
    return std::make_unique<CWaitingNotice>(uistr::UiString(stringId));
}

std::unique_ptr<IBuildProgress> CWxUiServices::CreateBuildProgress() { return std::make_unique<CBuildProgress>(m_main); }

std::unique_ptr<IBuildProgress> CWxUiServices::CreateUncancellableProgress(const std::string& title) {
    return std::make_unique<CBuildProgress>(m_main, title, false);
}

namespace {

// What the user is told when no browser could show a page: the page's path as it is written
// (not its URL), or the address, so that it can be opened by hand.
void TellBrowserFailed(const std::string& url) {
    const std::string path = platform::PathOfFileUrl(url);
    const bool local = !path.empty();
    const std::string where = local ? path : url;
    ReleaseTrace("Cannot open %s in a browser", url.c_str());
    // A desktop user who cannot be looked up gets no browser of root's instead: say so.
    const std::string why = platform::DesktopUserRefusal();
    const std::string text =
        !why.empty() ? (local ? "The help page was not opened: " + why + ". It is here:\n"
                              : "This address was not opened: " + why + ":\n") + where
        : (local ? "No web browser could be started to show the help page. It is here:\n"
                 : "No web browser could be started to open this address:\n") + where;
    CMessageBoxDlg box;
    box.ShowMessage(kMbInformation, kMbOk, nullptr, text.c_str());
}

// xdg-open runs in the background (it may wait for the browser); a failure to start it or an
// exit status other than 0 is reported once it is known. Started as root for a desktop user, it
// runs as that user.
class BrowserWatch : public wxTimer {
public:
    BrowserWatch(pid_t pid, std::string url) : m_pid(pid), m_url(std::move(url)) { Start(100); }
    void Notify() override {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR))
            return;
        Stop();
        const bool failed = r == m_pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        wxTheApp->CallAfter([this, failed] {
            const std::string url = m_url;
            delete this;
            if (failed)
                TellBrowserFailed(url);
        });
    }

private:
    pid_t m_pid;
    std::string m_url;
};

} // namespace

void CWxUiServices::OpenUrl(const std::string& url) {
    const pid_t pid = platform::SpawnForDesktopUser({"xdg-open", url});
    if (pid <= 0) {
        TellBrowserFailed(url);
        return;
    }
    new BrowserWatch(pid, url);
}

void CWxUiServices::ShowHelpTopic(int topicId) {
    std::string path = m_paths.HelpFile(topicId);
    if (!wxFileExists(ui::FromUtf8(path)))
        path = m_paths.resourceDir + "help/index.html";
    // The browser runs as the desktop user after an administrator start: a page that user may
    // not read is not handed over, the user is told where it is instead.
    if (!platform::DesktopUserMayRead(path)) {
        TellBrowserFailed(platform::FileUrl(path));
        return;
    }
    OpenUrl(platform::FileUrl(path));
}

// ---- Deleted File Recovery steps ----

RecoveryOutcome CWxUiServices::RunRecoveringDialog(CFileNode* root, IStorageDevice* device, const std::string& outputFolder) {
    if (m_main)
        m_main->Disable();
    RecoveryOutcome outcome;
    {
        CRecoveringDlg dlg(m_main, root, device, outputFolder);
        dlg.DoModal();
        outcome = dlg.Outcome();
    }
    if (m_main)
        m_main->Enable();
    return outcome;
}

int CWxUiServices::RunSingleFileDialog(IStorageDevice* device, CFileNode* node, const std::string& targetPath) {
    CRBClickRecoverFileDlg dlg(m_main, device, node, targetPath);
    return dlg.DoModal();
}

std::string CWxUiServices::SaveFileDialog(const std::string& defaultName, const std::string& filter) {
    const std::size_t dot = defaultName.find_last_of('.');
    const std::string ext = dot == std::string::npos ? std::string() : defaultName.substr(dot + 1);
    wxFileDialog dlg(m_main, wxFileSelectorPromptStr, "", ui::FromUtf8(defaultName), Wildcard(filter),
                     wxFD_SAVE | wxFD_OVERWRITE_PROMPT);
    if (dlg.ShowModal() != wxID_OK)
        return "";
    std::string path = ui::ToUtf8(dlg.GetPath());
    // The default extension goes on a name typed without one.
    if (!ext.empty() && path.find('.', path.find_last_of('/') + 1) == std::string::npos)
        path += "." + ext;
    return path;
}

void CWxUiServices::PreviewFile(IStorageDevice* device, CFileNode* node) { PreviewFoundFile(m_main, device, node); }

bool CWxUiServices::ShowSearchDialog(CFileNode* root, CFileNode* folder, SearchResult& result, std::string& description) {
    return ShowFileSearchDialog(m_main, root, folder, result, &description);
}

void CWxUiServices::ShowFindDialog(IFindFileView& view) { ShowFindFileDialog(m_main, view); }

// ---- Deep Scan Recovery steps ----

std::unique_ptr<IDeepScanProgress> CWxUiServices::CreateDeepScanProgress() {
    return std::make_unique<CWxDeepScanProgress>(m_main);
}
// Lost Partition Recovery.
std::unique_ptr<IWaitingNotice> CWxUiServices::ShowPartitionSearch(CLostPartitionSearchModel& model) {
    return ShowLostPartitionSearchDialog(m_main, *this, model);
}

std::string CWxUiServices::ChooseDiskImage() { return RunOpenDiskImageWizard(m_main); }

// ---- Deleted File Recovery: properties and image commands ----
void CWxUiServices::ShowProperties(int templateId, const std::string& title, const PropertyRows& rows) {
    CPropertyListDlg dlg(m_main, templateId, ui::FromUtf8(title), rows);
    dlg.DoModal();
}

std::string CWxUiServices::CreateImageOfSelected(IStorageDevice* source, const std::string& caption, std::uint32_t heads) {
    const CreateImageResult made = CreateImageOfDevice(m_main, source, caption, heads);
    return made.openInDeviceList ? made.imagePath : std::string();
}

void CWxUiServices::ShowAdvancedSettings() { ::ShowAdvancedSettings(m_main, GetScanOptions(), true, true); }
