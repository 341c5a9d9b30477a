#include "tests/ui/controls/windows/Harness.h"

#include <wx/dcscreen.h>
#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/uiaction.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace uitest {

void Pump(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    do {
        if (wxEventLoopBase* loop = wxEventLoopBase::GetActive(); loop && !loop->IsYielding())
            loop->YieldFor(wxEVT_CATEGORY_ALL);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < end);
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Pump(5);
    }
    return true;
}

void MoveTo(wxWindow* w, wxPoint client) {
    wxUIActionSimulator sim;
    sim.MouseMove(w->ClientToScreen(client));
    Pump(40);
}

void ClickAt(wxWindow* w, wxPoint client, int button) {
    MoveTo(w, client);
    wxUIActionSimulator sim;
    sim.MouseClick(button);
    Pump(60);
}

void Click(wxWindow* w) {
    const wxSize s = w->GetClientSize();
    ClickAt(w, wxPoint(s.x / 2, s.y / 2));
}

void PressAt(wxWindow* w, wxPoint client) {
    MoveTo(w, client);
    wxUIActionSimulator sim;
    sim.MouseDown();
    Pump(40);
}

void ReleaseAt(wxWindow* w, wxPoint client) {
    MoveTo(w, client);
    wxUIActionSimulator sim;
    sim.MouseUp();
    Pump(60);
}

void Key(int keyCode, int modifiers) {
    wxUIActionSimulator sim;
    sim.Char(keyCode, modifiers);
    Pump(60);
}

void Type(const char* text) {
    wxUIActionSimulator sim;
    sim.Text(text);
    Pump(60);
}

wxDialog* ActiveModal() {
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* d = dynamic_cast<wxDialog*>(w); d && d->IsModal())
            return d;
    return nullptr;
}

int RunModal(const std::function<int()>& open, const std::function<void()>& actions, int timeoutMs) {
    bool finished = false;
    wxTimer guard;
    guard.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (wxDialog* d = ActiveModal())
            d->EndModal(-99);
    });
    wxTheApp->CallAfter([&] {
        PumpUntil([] { return ActiveModal() && ActiveModal()->IsShownOnScreen(); }, 3000);
        Pump(200);
        actions();
        finished = true;
        guard.StartOnce(1500);   // the actions should have ended the dialog by now
    });
    guard.StartOnce(timeoutMs);
    const int result = open();
    guard.Stop();
    PumpUntil([&] { return finished; }, timeoutMs);
    return result;
}

std::string Screenshot(wxWindow* w, const std::string& name) {
    w->Refresh();
    w->Update();
    Pump(60);
    std::filesystem::create_directories(BRULIN_SCREENSHOT_DIR);
    const std::string path = std::string(BRULIN_SCREENSHOT_DIR) + "/" + name + ".png";
    const wxRect r = w->GetScreenRect();
    wxBitmap bitmap(r.width, r.height, 24);
    {
        wxScreenDC screen;
        wxMemoryDC mem(bitmap);
        mem.Blit(0, 0, r.width, r.height, &screen, r.x, r.y);
    }
    bitmap.SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    return path;
}

wxColour ScreenPixel(wxWindow* w, wxPoint client) {
    const wxPoint p = w->ClientToScreen(client);
    wxBitmap bitmap(1, 1, 24);
    {
        wxScreenDC screen;
        wxMemoryDC mem(bitmap);
        mem.Blit(0, 0, 1, 1, &screen, p.x, p.y);
    }
    const wxImage img = bitmap.ConvertToImage();
    return wxColour(img.GetRed(0, 0), img.GetGreen(0, 0), img.GetBlue(0, 0));
}

HostFrame::HostFrame(wxSize client, const wxColour& bg) {
    m_frame = new wxFrame(nullptr, wxID_ANY, "host", wxPoint(40, 40), wxDefaultSize, wxBORDER_NONE);
    m_frame->SetClientSize(client);
    m_panel = new wxPanel(m_frame, wxID_ANY, wxPoint(0, 0), client);
    m_panel->SetBackgroundColour(bg);
}

HostFrame::~HostFrame() {
    m_frame->Destroy();
    Pump(10);
}

void HostFrame::ShowAndWait() {
    m_frame->Show();
    m_frame->Raise();
    PumpUntil([this] { return m_frame->IsShownOnScreen(); }, 3000);
    Pump(80);
}

} // namespace uitest
