#pragma once
// Shared helpers of the window code: colours, fonts and the toolkit's id checks.
#include "ui/controls/Geometry.h"
#include "ui/controls/Resources.h"

#include <wx/wx.h>

#include <string>

static_assert(uires::kToolkitOkId == wxID_OK && uires::kToolkitCancelId == wxID_CANCEL);
static_assert(uires::kToolkitLowestId == wxID_LOWEST && uires::kToolkitHighestId == wxID_HIGHEST);

namespace ui {

inline wxColour ToWx(uires::Rgb c) { return wxColour(c.r, c.g, c.b); }
inline wxColour ColorRef(std::uint32_t colorref) { return ToWx(uires::FromColorRef(colorref)); }
inline wxRect ToWx(const uigeo::Rect& r) { return wxRect(r.left, r.top, r.Width(), r.Height()); }
// UTF-8 text to the toolkit's string; text that is not valid UTF-8 (names from disk) is shown
// with its invalid bytes escaped instead of disappearing.
wxString FromUtf8(const std::string& s);
inline std::string ToUtf8(const wxString& s) {
    const wxScopedCharBuffer buf = s.utf8_str();
    return std::string(buf.data(), buf.length());
}

// The program's dialog font: a sans-serif face of the given pixel height and weight (400/700).
wxFont PixelFont(int pixelHeight, int weight = 400, const char* face = nullptr);
// A sans-serif face of the given point size (the system's icon-title face at that size).
wxFont PointFont(int points, int weight = 400, const char* face = nullptr);

// Text broken into lines that fit `width` in the DC's font (words kept whole where possible).
wxString WrapText(wxDC& dc, const wxString& text, int width);
// Draws text with the program's flags: centred or left, vertically centred, word-wrapped.
enum TextFlags : unsigned { kTextCenter = 1, kTextVCenter = 2, kTextWordBreak = 4, kTextSingleLine = 8,
                            kTextRight = 16, kTextEllipsis = 32 };
void DrawTextIn(wxDC& dc, const wxString& text, const wxRect& rect, unsigned flags);

} // namespace ui

// Notifications from controls to their owners: the event's id is the program's message number
// (2024 right button on a grid row, 2025 tab selected or closed).
wxDECLARE_EVENT(EVT_UI_NOTIFY, wxCommandEvent);
