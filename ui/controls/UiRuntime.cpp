#include "ui/controls/UiRuntime.h"

#include "logging/Log.h"
#include "platform/WorkerWait.h"

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/thread.h>
#include <wx/utils.h>

namespace {
std::function<void(const std::string&)> g_assertObserver;

void AssertHandler(const wxString& file, int line, const wxString& func, const wxString& cond, const wxString& msg) {
    const std::string text = std::string("UI assertion failed: ") + cond.utf8_string() + " (" + msg.utf8_string() +
                             ") in " + func.utf8_string() + " at " + file.utf8_string() + ":" + std::to_string(line);
    LogError("%s", text.c_str());
    if (g_assertObserver)
        g_assertObserver(text);
}
} // namespace

void InstallUiAssertHandler(std::function<void(const std::string&)> observer) {
    g_assertObserver = std::move(observer);
    wxSetAssertHandler(AssertHandler);
}

void PumpUiEvents() {
    if (!wxIsMainThread() || !wxTheApp)
        return;
    wxEventLoopBase* loop = wxEventLoopBase::GetActive();
    if (!loop || loop->IsYielding())
        return;
    loop->YieldFor(wxEVT_CATEGORY_ALL);
}

void InstallWxPumpHook() {
    platform::SetPumpHook([](int sleepMs, const platform::WorkerWake& wake) {
        wxEventLoopBase* loop = wxIsMainThread() ? wxEventLoopBase::GetActive() : nullptr;
        if (loop && !loop->IsYielding())
            loop->YieldFor(wxEVT_CATEGORY_ALL);
        // Then wait at most as long as the caller wanted to pause, returning when the work ends.
        wake.WaitFor(sleepMs > 0 ? sleepMs : 1);
    });
}
