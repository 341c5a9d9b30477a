// The loader program: the one the user starts. It reads no arguments. Its messages appear in
// the skinned message box when a display is there, and on standard error otherwise.
#include "loader/Loader.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/UiRuntime.h"

#include <wx/wx.h>

#include <cstdio>
#include <cstdlib>

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

} // namespace

int main(int argc, char** argv) {
    LoaderConfig config;
    config.paths = platform::ResolveAppPaths();
    CMessageBoxMessages messages(argc, argv);
    return RunLoader(config, messages);
}
