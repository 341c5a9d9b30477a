#include "tests/ui/controls/windows/Harness.h"

#include "ui/controls/ScrollWnd.h"

#include <gtest/gtest.h>

#include <wx/evtloop.h>
#include <wx/filename.h>
#include <wx/uiaction.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <dlfcn.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <type_traits>

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
    Pump(30);
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
        Pump(120);
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

void Drag(wxWindow* w, wxPoint from, wxPoint by) {
    wxUIActionSimulator sim;
    const wxPoint start = w->ClientToScreen(from);
    sim.MouseMove(start);
    Pump(60);
    sim.MouseDown();
    Pump(60);
    sim.MouseMove(start + wxPoint(by.x / 2, by.y / 2));
    Pump(60);
    sim.MouseMove(start + by);
    Pump(100);
    sim.MouseUp();
    Pump(120);
}

wxWindow* ShownFlatMenu() {
    PumpUntil([] { return CXPMenu::Shown() && CXPMenu::Shown()->IsShownOnScreen(); }, 2000);
    return CXPMenu::Shown();
}

void ChooseFlatMenuItem(int index) {
    wxWindow* menu = ShownFlatMenu();
    if (!menu) {
        ADD_FAILURE() << "no flat menu is shown";
        return;
    }
    const wxPoint at(40, index * CXPMenu::ItemSize().y + CXPMenu::ItemSize().y / 2);
    MoveTo(menu, at);
    Pump(60);
    ClickAt(menu, at);
    Pump(150);
}

ModalAnswerer::ModalAnswerer() {
    m_timer.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
    m_timer.Start(100);
}

ModalAnswerer::~ModalAnswerer() { m_timer.Stop(); }

void ModalAnswerer::Tick() {
    if (m_busy || m_steps.empty())
        return;
    // The innermost modal dialog (the last one made).
    wxDialog* d = nullptr;
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* dlg = dynamic_cast<wxDialog*>(w); dlg && dlg->IsModal())
            d = dlg;
    if (!d || !d->IsShownOnScreen())
        return;
    m_busy = true;
    if (m_steps.front()(d))
        m_steps.pop_front();
    m_busy = false;
}

namespace {
// What the X server shows in a screen rectangle now (read through a connection of our own, so no
// toolkit cache is involved).
wxImage GrabScreen(const wxRect& r) {
    wxImage out(std::max(1, r.width), std::max(1, r.height));
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return out;
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attrs;
    XGetWindowAttributes(display, root, &attrs);
    const int x = std::max(0, r.x), y = std::max(0, r.y);
    const int w = std::min(r.width, attrs.width - x), h = std::min(r.height, attrs.height - y);
    if (w > 0 && h > 0) {
        if (XImage* img = XGetImage(display, root, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap)) {
            for (int yy = 0; yy < h; ++yy)
                for (int xx = 0; xx < w; ++xx) {
                    const unsigned long p = XGetPixel(img, xx, yy);
                    out.SetRGB(xx + (x - r.x), yy + (y - r.y), static_cast<unsigned char>((p & img->red_mask) >> 16),
                               static_cast<unsigned char>((p & img->green_mask) >> 8),
                               static_cast<unsigned char>(p & img->blue_mask));
                }
            XDestroyImage(img);
        }
    }
    XCloseDisplay(display);
    return out;
}
} // namespace

namespace {
std::string SaveScreen(const wxRect& screen, const std::string& name) {
    // A run with other toolkit settings (a larger font) keeps its pictures apart.
    const char* dirOverride = std::getenv("BRULIN_SCREENSHOT_DIR");
    const std::string dir = dirOverride && *dirOverride ? dirOverride : BRULIN_SCREENSHOT_DIR;
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/" + name + ".png";
    GrabScreen(screen).SaveFile(wxString::FromUTF8(path), wxBITMAP_TYPE_PNG);
    return path;
}
} // namespace

std::string Screenshot(wxWindow* w, const std::string& name) {
    w->Refresh();
    w->Update();
    Pump(80);
    return SaveScreen(w->GetScreenRect(), name);
}

std::string ScreenshotOfScreen(const std::string& name) {
    Pump(80);
    return SaveScreen(wxRect(wxPoint(0, 0), wxGetDisplaySize()), name);
}

wxColour ScreenPixel(wxWindow* w, wxPoint client) {
    const wxImage img = GrabScreen(wxRect(w->ClientToScreen(client), wxSize(1, 1)));
    return wxColour(img.GetRed(0, 0), img.GetGreen(0, 0), img.GetBlue(0, 0));
}

namespace {
// The few GTK and Pango calls that tell how a label is drawn. They are looked up in the toolkit
// the program already runs on, so the tests need no GTK headers of their own.
struct PangoRect {
    int x, y, width, height;
};
struct LabelCalls {
    void* (*labelLayout)(void*) = nullptr;  // gtk_label_get_layout
    int (*allocatedWidth)(void*) = nullptr;
    int (*allocatedHeight)(void*) = nullptr;
    int (*lineCount)(void*) = nullptr;
    void (*pixelExtents)(void*, PangoRect*, PangoRect*) = nullptr;
    int (*isEllipsized)(void*) = nullptr;
    bool ok = false;
};

const LabelCalls& Calls() {
    static const LabelCalls calls = [] {
        LabelCalls c;
        auto find = [](auto& fn, const char* name) { fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(RTLD_DEFAULT, name)); };
        find(c.labelLayout, "gtk_label_get_layout");
        find(c.allocatedWidth, "gtk_widget_get_allocated_width");
        find(c.allocatedHeight, "gtk_widget_get_allocated_height");
        find(c.lineCount, "pango_layout_get_line_count");
        find(c.pixelExtents, "pango_layout_get_pixel_extents");
        find(c.isEllipsized, "pango_layout_is_ellipsized");
        c.ok = c.labelLayout && c.allocatedWidth && c.allocatedHeight && c.lineCount && c.pixelExtents && c.isEllipsized;
        return c;
    }();
    return calls;
}
} // namespace

ShownTextLayout TextLayoutOf(wxStaticText* text) {
    ShownTextLayout out;
    const LabelCalls& c = Calls();
    void* label = text ? static_cast<void*>(text->GetHandle()) : nullptr;
    if (!c.ok || !label)
        return out;
    void* layout = c.labelLayout(label);
    if (!layout)
        return out;
    PangoRect ink{}, logical{};
    c.pixelExtents(layout, &ink, &logical);
    out.known = true;
    out.lines = c.lineCount(layout);
    out.text = wxSize(logical.width, logical.height);
    out.box = wxSize(c.allocatedWidth(label), c.allocatedHeight(label));
    out.ellipsized = c.isEllipsized(layout) != 0;
    return out;
}

void ExpectTextWhole(wxStaticText* text) {
    ASSERT_NE(text, nullptr);
    SCOPED_TRACE(text->GetLabel().utf8_string());
    EXPECT_TRUE(text->IsShownOnScreen());
    Pump(20);
    const ShownTextLayout shown = TextLayoutOf(text);
    ASSERT_TRUE(shown.known) << "the toolkit does not tell how the text is laid out";
    // The toolkit lays the text out in the room the window was given.
    EXPECT_EQ(shown.box, text->GetSize());
    EXPECT_GE(shown.lines, 1);
    EXPECT_LE(shown.text.x, shown.box.x) << shown.lines << " line(s)";
    EXPECT_LE(shown.text.y, shown.box.y) << shown.lines << " line(s)";
    EXPECT_FALSE(shown.ellipsized);
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
