#include "ui/controls/UiCommon.h"

#include "ui/controls/Formatting.h"

#include <wx/tokenzr.h>

namespace ui {

wxString FromUtf8(const std::string& s) {
    wxString w = wxString::FromUTF8(s.data(), s.size());
    if (w.empty() && !s.empty())
        w = wxString::FromUTF8(uifmt::DisplayName(s));
    return w;
}

wxFont PixelFont(int pixelHeight, int weight, const char* face) {
    wxFontInfo info(wxSize(0, pixelHeight));
    info.Family(wxFONTFAMILY_SWISS);
    if (face)
        info.FaceName(face);
    if (weight >= 700)
        info.Bold();
    return wxFont(info);
}

wxFont PointFont(int points, int weight, const char* face) {
    wxFontInfo info(points);
    info.Family(wxFONTFAMILY_SWISS);
    if (face)
        info.FaceName(face);
    if (weight >= 700)
        info.Bold();
    return wxFont(info);
}

wxString WrapText(wxDC& dc, const wxString& text, int width) {
    wxString out;
    wxStringTokenizer paragraphs(text, "\n", wxTOKEN_RET_EMPTY_ALL);
    bool firstParagraph = true;
    while (paragraphs.HasMoreTokens()) {
        const wxString para = paragraphs.GetNextToken();
        if (!firstParagraph)
            out += '\n';
        firstParagraph = false;
        wxString line;
        wxStringTokenizer words(para, " ", wxTOKEN_STRTOK);
        while (words.HasMoreTokens()) {
            const wxString word = words.GetNextToken();
            const wxString candidate = line.empty() ? word : line + " " + word;
            if (!line.empty() && dc.GetTextExtent(candidate).x > width) {
                out += line + "\n";
                line = word;
            } else {
                line = candidate;
            }
        }
        out += line;
    }
    return out;
}

void DrawTextIn(wxDC& dc, const wxString& text, const wxRect& rect, unsigned flags) {
    wxString shown = text;
    if (flags & kTextWordBreak)
        shown = WrapText(dc, text, rect.width);
    if (flags & kTextEllipsis)
        shown = wxControl::Ellipsize(shown, dc, wxELLIPSIZE_END, rect.width);
    int align = 0;
    align |= (flags & kTextCenter) ? wxALIGN_CENTER_HORIZONTAL : ((flags & kTextRight) ? wxALIGN_RIGHT : wxALIGN_LEFT);
    align |= (flags & kTextVCenter) ? wxALIGN_CENTER_VERTICAL : wxALIGN_TOP;
    wxDCClipper clip(dc, rect);
    dc.DrawLabel(shown, rect, align);
}

} // namespace ui

wxDEFINE_EVENT(EVT_UI_NOTIFY, wxCommandEvent);
