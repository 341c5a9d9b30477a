#pragma once
// Helpers of the window tests: running the event loop, simulated mouse and keys, closing
// modal dialogs from a timer, and screenshots into <build>/screenshots/controls.
#include <wx/wx.h>

#include <functional>
#include <string>

namespace uitest {

// Handles events for `ms` milliseconds.
void Pump(int ms = 30);
// Handles events until `done` is true or `timeoutMs` passed; returns `done`.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 3000);

// Simulated input, in a window's client coordinates.
void MoveTo(wxWindow* w, wxPoint client);
void ClickAt(wxWindow* w, wxPoint client, int button = wxMOUSE_BTN_LEFT);
void Click(wxWindow* w);   // the window's centre
void PressAt(wxWindow* w, wxPoint client);
void ReleaseAt(wxWindow* w, wxPoint client);
void Key(int keyCode, int modifiers = wxMOD_NONE);
void Type(const char* text);

// Runs `open` (which shows a modal dialog and returns its result) while `actions` runs from
// inside the dialog's loop. A dialog still open after `timeoutMs` is ended with -99.
int RunModal(const std::function<int()>& open, const std::function<void()>& actions, int timeoutMs = 8000);
// The modal dialog open now, or null.
wxDialog* ActiveModal();

// Saves a PNG of the window as the screen shows it; returns the file's path.
std::string Screenshot(wxWindow* w, const std::string& name);
// Reads a pixel of a window as shown on screen.
wxColour ScreenPixel(wxWindow* w, wxPoint client);

// A top-level frame to host controls; destroyed with the object.
class HostFrame {
public:
    explicit HostFrame(wxSize client = wxSize(480, 360), const wxColour& bg = wxColour(241, 241, 241));
    ~HostFrame();
    wxFrame* frame() const { return m_frame; }
    wxPanel* panel() const { return m_panel; }
    void ShowAndWait();

private:
    wxFrame* m_frame;
    wxPanel* m_panel;
};

} // namespace uitest
