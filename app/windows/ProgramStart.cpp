#include "app/windows/ProgramStart.h"

#include "app/ActivityLog.h"
#include "app/LoaderObjects.h"
#include "app/ProgramCrashHandling.h"
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "app/windows/AppBitmaps.h"
#include "app/windows/MainFrame.h"
#include "app/windows/WxUiServices.h"
#include "logging/Log.h"
#include "platform/DebugOutput.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/UiRuntime.h"

#include <wx/log.h>
#include <wx/wx.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// The toolkit's own messages go to the log's trace level, never to a dialog.
class CTraceLogTarget : public wxLog {
protected:
    void DoLogTextAtLevel(wxLogLevel, const wxString& msg) override {
        ReleaseTrace("wx: %s", static_cast<const char*>(msg.utf8_str()));
    }
};

class CVLTApp : public wxApp {
public:
    CVLTApp(const platform::AppPaths& paths, RootFallback rootFallback)
        : m_paths(paths), m_rootFallback(rootFallback), m_services(paths) {}

    bool OnInit() override {
        delete wxLog::SetActiveTarget(new CTraceLogTarget);
        wxInitAllImageHandlers();
        InstallUiAssertHandler();
        InstallWxPumpHook();
        appres::RegisterAppBitmaps();
        m_context = std::make_unique<AppContext>(m_services, m_devices, m_paths);
        m_context->rootFallback = m_rootFallback;
        InstallDeletedFileRecoverySteps(*m_context);
        InstallDeepScanSteps(*m_context);
        InstallLostPartitionRecoverySteps(*m_context);
        auto* frame = new CMainFrame(*m_context);
        m_services.SetMainWindow(frame);
        SetTopWindow(frame);
        frame->Show();
        frame->Update();
        LogInfo("%s", "Main window shown.");
        return true;
    }

    int OnExit() override {
        m_context.reset();
        return wxApp::OnExit();
    }

private:
    const platform::AppPaths& m_paths;
    RootFallback m_rootFallback;
    CWxUiServices m_services;
    CEnumerationDeviceSource m_devices;
    std::unique_ptr<AppContext> m_context;
};

// The out-of-memory notice: the skinned message box once the toolkit runs, else standard error.
void ShowOutOfMemoryNotice(const char* text) {
    if (wxTheApp && wxTheApp->IsMainLoopRunning())
        ShowMessageBox(kMbWarning, text);
    else
        std::fprintf(stderr, "BrulinUI: %s\n", text);
}

} // namespace

int PrepareProgram(int argc, const char* const* argv, StartupOptions& options, platform::AppPaths& paths) {
    options = ParseStartupOptions(argc, argv);
    if (!options.pro)
        return 1;  // the program runs only when started by the loader (or as "BrulinUI -pro")
    paths = platform::ResolveAppPaths();
    std::string error;
    std::vector<std::string> refused;
    if (!platform::CreateAppFolders(paths, &error, &refused)) {
        std::fprintf(stderr, "BrulinUI: cannot create its folders: %s\n", error.c_str());
        return 1;
    }
    const int logType = platform::ProbeLoaderLock(paths.LoaderLockFile());
    UseLogNames(paths);
    // The program's own debug lines (the library's are switched by InitLog) follow -trace too.
    platform::SetDebugOutputTrace(options.trace);
    InitLog(paths.LogFile().c_str(), static_cast<LOGLEVEL>(options.LogLevel()), static_cast<LOGTYPE>(logType));
    InstallProgramCrashHandler(paths, logType, ShowOutOfMemoryNotice);
    LogBanner(GatherSystemFacts(paths.programDir));
    for (const std::string& line : platform::RuntimeFolderNotes(paths, refused))
        LogWarning("%s", line.c_str());
    if (options.rootFallback != RootFallback::None)
        LogInfo("Running as the user: the start as administrator fell back (%s).", RootFallbackName(options.rootFallback));
    return -1;
}

int RunProgramWindows(int argc, char** argv, const platform::AppPaths& paths, RootFallback rootFallback) {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!display || !*display) && (!wayland || !*wayland)) {
        std::fprintf(stderr, "BrulinUI: no display to show its window on (DISPLAY is not set). Start it from a "
                             "desktop session, or under a virtual X server: xvfb-run BrulinUI -pro\n");
        LogError("No display: the main window cannot be shown.");
        return 2;
    }
    wxApp::SetInstance(new CVLTApp(paths, rootFallback));
    return wxEntry(argc, argv);
}
