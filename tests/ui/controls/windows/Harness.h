#pragma once
// Helpers of the window tests: running the event loop, simulated mouse and keys, closing
// modal dialogs from a timer, and screenshots into <build>/screenshots/controls.
#include <wx/wx.h>

#include <deque>
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
// Presses the left button at a point of a window, moves the pointer by `by` and releases.
void Drag(wxWindow* w, wxPoint from, wxPoint by);
// The program's flat popup menu shown now (waits up to 2 s for it), or null.
wxWindow* ShownFlatMenu();
// Clicks the item at `index` of the flat menu shown now (items are 25 pixels high).
void ChooseFlatMenuItem(int index);
void Type(const char* text);

// Runs `open` (which shows a modal dialog and returns its result) while `actions` runs from
// inside the dialog's loop. A dialog still open after `timeoutMs` is ended with -99.
int RunModal(const std::function<int()>& open, const std::function<void()>& actions, int timeoutMs = 8000);
// The modal dialog open now, or null.
wxDialog* ActiveModal();

// Answers modal dialogs from a timer, one step at a time: each step waits for a shown modal
// that it accepts, then acts on it (the timer fires inside the modal's own loop).
class ModalAnswerer {
public:
    using Step = std::function<bool(wxDialog*)>;  // true when it handled the dialog
    ModalAnswerer();
    ~ModalAnswerer();
    void Then(Step step) { m_steps.push_back(std::move(step)); }
    bool Done() const { return m_steps.empty(); }

private:
    void Tick();
    wxTimer m_timer;
    std::deque<Step> m_steps;
    bool m_busy = false;
};

// Saves a PNG of the window as the screen shows it; returns the file's path.
std::string Screenshot(wxWindow* w, const std::string& name);
// The same of the whole screen (for the toolkit's native dialogs, whose place it does not know).
std::string ScreenshotOfScreen(const std::string& name);
// Reads a pixel of a window as shown on screen.
wxColour ScreenPixel(wxWindow* w, wxPoint client);

// How the toolkit lays out a static text's label inside the text's window, as it draws it: the
// lines the label wraps to at the window's width and the room those lines take. Tests check what
// is drawn with it, not a count of lines or a width that only one set of fonts gives.
struct ShownTextLayout {
    bool known = false;      // the toolkit told (false off GTK)
    int lines = 0;
    wxSize text;             // the room all lines take
    wxSize box;              // the room the window gives them
    bool ellipsized = false; // some text was left out for "..."
};
ShownTextLayout TextLayoutOf(wxStaticText* text);
// Expects a shown static text drawn whole: every line of it inside its window, none cut short,
// however many lines the installed fonts wrap it to.
void ExpectTextWhole(wxStaticText* text);

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
