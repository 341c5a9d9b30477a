#include "ui/controls/DUIButton.h"

#include "ui/controls/ButtonLogic.h"
#include "ui/controls/DrawHelpers.h"
#include "platform/AppPaths.h"
#include "ui/controls/Formatting.h"

#include <wx/filename.h>
#include <wx/image.h>

int CDUIButton::FrameIndex() const { return CaptionButtonFrame(disabled, pressed, hover, frameCount); }

void CDUIButton::Draw(wxGraphicsContext& gc) {
    if (strip && strip->IsOk() && frameCount > 0) {
        const int frameWidth = strip->GetWidth() / static_cast<int>(frameCount);
        const int index = FrameIndex();
        if (frameWidth > 0) {
            const wxBitmap frame = SubBitmapInside(*strip, wxRect(index * frameWidth, 0, frameWidth, strip->GetHeight()));
            if (frame.IsOk())
                gc.DrawBitmap(frame, rect.x, rect.y, rect.width, rect.height);
        }
    }
    wxRect layout = rect;
    if (icon && icon->IsOk()) {
        gc.DrawBitmap(*icon, iconPos.x, iconPos.y, icon->GetWidth(), icon->GetHeight());
        layout.x = iconPos.x + icon->GetWidth() + 2;
        layout.width = rect.width - icon->GetWidth() - 2;
    }
    if (caption.empty())
        return;
    gc.SetFont(ui::PointFont(10), disabled ? wxColour(128, 128, 128) : *wxWHITE);
    double tw = 0, th = 0;
    gc.GetTextExtent(caption, &tw, &th);
    const double x = layout.x + (layout.width - tw) / 2;
    const double y = (icon && icon->IsOk()) ? layout.y : layout.y + (layout.height - th) / 2;
    gc.Clip(rect.x, rect.y, rect.width, rect.height);
    gc.DrawText(caption, x, y);
    gc.ResetClip();
}

void CDUIButton::SetRect(const wxRect& r) {
    iconPos += wxPoint(r.x - rect.x, r.y - rect.y);
    rect = r;
}

void CDUIButton::OnLButtonUp() {
    if (disabled || !pressed)
        return;
    pressed = false;
    checked = !checked;
    if (owner) {
        owner->RefreshRect(rect);
        wxCommandEvent event(wxEVT_BUTTON, commandId);
        event.SetEventObject(owner);
        wxPostEvent(owner, event);
    }
}

void CopyDUIButtonState(const CDUIButton& s, CDUIButton& d) {
    d.rect = s.rect;
    d.hover = s.hover;
    d.pressed = s.pressed;
    d.disabled = s.disabled;
    d.checked = s.checked;
    d.strip = s.strip;
    d.frameCount = s.frameCount;
    d.icon = s.icon;
    d.iconPos = s.iconPos;
    d.commandId = s.commandId;
    d.owner = s.owner;
    d.caption = s.caption;
}

void DestroyDUIButtonList(std::vector<std::unique_ptr<CDUIButton>>& list) { list.clear(); }

wxBitmap LoadSkinBitmap(const std::string& fileName) {
    const wxString path = ui::FromUtf8(platform::ResourceDir() + "info/" + fileName);
    if (!wxFileName::FileExists(path))
        return wxNullBitmap;
    wxImage image;
    if (!image.LoadFile(path))
        return wxNullBitmap;
    return wxBitmap(image);
}
