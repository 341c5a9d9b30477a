#pragma once
// Windowless caption buttons of frames with a painted caption: drawn by their owner from a
// horizontal strip of frames (normal, hover, pressed, disabled), with an optional icon and a
// caption; a release over a pressed button posts the command to the owner.
#include "ui/controls/UiCommon.h"

#include <wx/graphics.h>

#include <memory>
#include <string>
#include <vector>

class CDUIButton {
public:
    CDUIButton() = default;
    virtual ~CDUIButton() = default;
    // Paints the button on the owner's graphics context.
    virtual void Draw(wxGraphicsContext& gc);

    // Takes the rectangle; the icon moves by the same offset as the top-left corner.
    void SetRect(const wxRect& rect);
    // A left-button release over the button (the owner calls this).
    void OnLButtonUp();
    // The frame of the strip drawn now.
    int FrameIndex() const;

    wxRect rect;
    bool hover = false, pressed = false, disabled = false, checked = false;
    const wxBitmap* strip = nullptr;   // not owned
    unsigned frameCount = 1;
    const wxBitmap* icon = nullptr;    // not owned
    wxPoint iconPos;
    int commandId = 0;
    wxWindow* owner = nullptr;
    wxString caption;
};

// Copies every member (rectangle to owner, and the caption) from one button to another.
void CopyDUIButtonState(const CDUIButton& source, CDUIButton& destination);
// Destroys an owner's list of caption buttons.
void DestroyDUIButtonList(std::vector<std::unique_ptr<CDUIButton>>& list);
// A skin picture from the "info" folder of the program's resources (platform::ResourceDir);
// invalid when it cannot be read.
wxBitmap LoadSkinBitmap(const std::string& fileName);
