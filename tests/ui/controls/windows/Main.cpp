// The window tests run inside one toolkit application on a virtual X server.
#include "ui/controls/UiRuntime.h"

#include <gtest/gtest.h>
#include <wx/evtloop.h>
#include <wx/wx.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the window toolkit (no display?)\n");
        return 1;
    }
    wxTheApp->CallOnInit();
    wxInitAllImageHandlers();
    InstallUiAssertHandler([](const std::string& text) { ADD_FAILURE() << text; });
    InstallWxPumpHook();
    int rc = 0;
    {
        wxGUIEventLoop loop;
        wxEventLoopActivator activate(&loop);
        rc = RUN_ALL_TESTS();
    }
    wxEntryCleanup();
    return rc;
}
