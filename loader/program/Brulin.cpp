// The loader program: the one the user starts. Its one switch, "--administrator" (the desktop
// entry's), has a user who is not root asked for the administrator's password first
// (loader/RootStart.h). Its messages appear in the skinned message box when a display is
// there, and on standard error otherwise.
#include "loader/Loader.h"
#include "loader/RootStart.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/UiRuntime.h"

#include <wx/wx.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool HaveDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Starts the window toolkit on the first message only, so a loader that has nothing to say
// never touches the display.
class CMessageBoxMessages : public ILoaderMessages {
public:
    CMessageBoxMessages(int argc, char** argv) : m_argc(argc), m_argv(argv) {}
    ~CMessageBoxMessages() {
        if (m_started)
            wxEntryCleanup();
    }

    void ShowMessage(int kind, const std::string& text) override {
        std::fprintf(stderr, "Brulin: %s\n", text.c_str());
        if (!HaveDisplay())
            return;
        if (!m_started) {
            wxApp::SetInstance(new wxApp);
            if (!wxEntryStart(m_argc, m_argv))
                return;
            m_started = true;
            wxTheApp->CallOnInit();
            wxInitAllImageHandlers();
            InstallUiAssertHandler();
        }
        ShowMessageBox(kind, text);
    }

private:
    int m_argc;
    char** m_argv;
    bool m_started = false;
};

// Ends the process by `sig` itself, so that whoever waits for it sees how it ended.
[[noreturn]] void EndBySignal(int sig) {
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    sigprocmask(SIG_UNBLOCK, &one, nullptr);
    raise(sig);
    std::_Exit(128 + sig);
}

} // namespace

int main(int argc, char** argv) {
    // The runtime folder handed down by a loader is for the program that loader starts: a
    // loader never takes one from its environment (sudo -E, su), it chooses its own.
    unsetenv(platform::kRuntimeDirVariable);
    unsetenv(platform::kLoaderPidVariable);
    LoaderConfig config;
    // pkexec runs this loader in its own process, a child of the user's loader: when that one
    // ends (the user may signal only it), this one ends the program and itself.
    if (std::getenv("PKEXEC_UID"))
        config.startedBy = static_cast<int>(getppid());
    if (geteuid() != 0 && AsksForRoot(std::vector<std::string>(argv + 1, argv + argc))) {
        // The folder of polkit's actions may be named for a stand-in pkexec (tests); this is the
        // user's own loader, not root's, so nothing more than the user's start depends on it.
        const char* actions = std::getenv(kPolkitActionsVariable);
        const RootStartResult root = RunAsRoot(OwnProgramPath(), actions && *actions ? actions : kPolkitActionsDir);
        std::fprintf(stderr, "Brulin: %s\n", root.logLine.c_str());
        if (root.ran)
            return root.status;  // the root loader's end, whatever it was: nothing starts here
        config.logNotes.push_back(root.logLine);
        if (const std::string why = RootFallbackSwitch(root.fallback); !why.empty())
            config.programSwitches.push_back(why);
    } else if (geteuid() == 0 && std::getenv("PKEXEC_UID") && !HaveDisplay()) {
        // pkexec ran this loader without the display (its polkit action is not where polkit
        // reads actions): the user's loader goes on as the user instead.
        std::fprintf(stderr, "Brulin: started as root without the display; going on as the user.\n");
        return kPkexecFailed;
    }
    config.paths = platform::ResolveAppPaths();
    int status;
    {
        CMessageBoxMessages messages(argc, argv);
        status = RunLoader(config, messages);
    }
    if (const int sig = LoaderStopSignal(status))
        EndBySignal(sig);
    return status;
}
