#include "app/windows/AppBitmaps.h"

#include "ui/controls/Bitmaps.h"

#include <wx/graphics.h>
#include <wx/wx.h>

#include <cmath>
#include <functional>
#include <memory>

namespace appres {
namespace {

wxBitmap Render(int w, int h, const std::function<void(wxGraphicsContext&)>& paint) {
    wxImage image(w, h);
    image.InitAlpha();
    std::fill(image.GetAlpha(), image.GetAlpha() + w * h, static_cast<unsigned char>(0));
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(image));
    if (gc) {
        gc->SetAntialiasMode(wxANTIALIAS_DEFAULT);
        paint(*gc);
    }
    gc.reset();
    return wxBitmap(image);
}

// A disk drawn as a box with a light strip; `accent` marks the kind.
void DrawDrive(wxGraphicsContext& gc, double x, double y, double w, double h, const wxColour& body, const wxColour& accent) {
    gc.SetBrush(gc.CreateLinearGradientBrush(0, y, 0, y + h, body.ChangeLightness(130), body));
    gc.SetPen(wxPen(body.ChangeLightness(60), 1));
    gc.DrawRoundedRectangle(x, y, w, h, 4);
    gc.SetBrush(wxBrush(accent));
    gc.SetPen(*wxTRANSPARENT_PEN);
    gc.DrawRoundedRectangle(x + w - 16, y + h - 10, 9, 5, 2);
    gc.SetPen(wxPen(body.ChangeLightness(150), 1));
    gc.StrokeLine(x + 6, y + h / 2, x + w - 22, y + h / 2);
}

wxBitmap RowPicture(int id) {
    return Render(80, 52, [id](wxGraphicsContext& gc) {
        switch (id) {
        case kBmpFloppy:
            gc.SetBrush(wxBrush(wxColour(60, 70, 90)));
            gc.SetPen(wxPen(wxColour(30, 30, 40), 1));
            gc.DrawRoundedRectangle(22, 4, 40, 44, 3);
            gc.SetBrush(wxBrush(wxColour(200, 205, 215)));
            gc.DrawRectangle(30, 4, 24, 14);
            gc.SetBrush(wxBrush(*wxWHITE));
            gc.DrawRectangle(28, 26, 28, 20);
            break;
        case kBmpDisk: DrawDrive(gc, 6, 12, 68, 30, wxColour(110, 118, 130), wxColour(90, 220, 90)); break;
        case kBmpVolume:
            DrawDrive(gc, 6, 12, 68, 30, wxColour(70, 120, 190), wxColour(90, 220, 90));
            break;
        case kBmpFoundPartition:
            DrawDrive(gc, 6, 12, 68, 30, wxColour(200, 140, 40), wxColour(255, 240, 120));
            gc.SetFont(wxFont(wxFontInfo(wxSize(0, 16)).Bold()), *wxWHITE);
            gc.DrawText("?", 34, 16);
            break;
        case kBmpImageFile:
            gc.SetBrush(wxBrush(*wxWHITE));
            gc.SetPen(wxPen(wxColour(90, 90, 100), 1));
            gc.DrawRectangle(24, 3, 32, 44);
            DrawDrive(gc, 30, 24, 36, 18, wxColour(70, 120, 190), wxColour(90, 220, 90));
            break;
        case kBmpPreviousRecovery:
            gc.SetBrush(wxBrush(wxColour(240, 220, 150)));
            gc.SetPen(wxPen(wxColour(150, 120, 40), 1));
            gc.DrawRoundedRectangle(12, 10, 56, 34, 3);
            gc.SetPen(wxPen(wxColour(60, 110, 60), 3));
            gc.StrokeLine(28, 28, 36, 36);
            gc.StrokeLine(36, 36, 52, 18);
            break;
        case kBmpUsb:
            gc.SetBrush(wxBrush(wxColour(160, 165, 175)));
            gc.SetPen(wxPen(wxColour(80, 80, 90), 1));
            gc.DrawRectangle(8, 18, 16, 16);
            DrawDrive(gc, 24, 12, 50, 28, wxColour(40, 150, 120), wxColour(250, 250, 120));
            break;
        default: break;
        }
    });
}

// The three large mode buttons: a rounded card with a picture of the mode at the top.
wxBitmap ModeButton(int mode, int state) {
    return Render(280, 350, [=](wxGraphicsContext& gc) {
        const wxColour fills[4][2] = {{wxColour(250, 250, 252), wxColour(222, 227, 235)},
                                      {wxColour(236, 246, 253), wxColour(190, 220, 244)},
                                      {wxColour(200, 222, 240), wxColour(232, 240, 248)},
                                      {wxColour(240, 240, 240), wxColour(228, 228, 228)}};
        gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, 0, 350, fills[state][0], fills[state][1]));
        gc.SetPen(wxPen(state == 1 ? wxColour(60, 127, 177) : wxColour(150, 156, 166), 1));
        gc.DrawRoundedRectangle(2.5, 2.5, 275, 345, 12);
        const wxColour colours[3] = {wxColour(214, 78, 60), wxColour(52, 120, 200), wxColour(230, 150, 30)};
        const wxColour c = state == 3 ? wxColour(170, 170, 170) : colours[mode];
        // A band for the caption at the bottom.
        gc.SetBrush(gc.CreateLinearGradientBrush(0, 300, 0, 346, c.ChangeLightness(110), c.ChangeLightness(80)));
        gc.SetPen(*wxTRANSPARENT_PEN);
        gc.DrawRoundedRectangle(4, 302, 272, 44, 10);
        // A drive with the mode's sign over it.
        DrawDrive(gc, 70, 90, 140, 60, wxColour(110, 118, 130), wxColour(90, 220, 90));
        gc.SetPen(wxPen(c, 8));
        gc.SetBrush(*wxTRANSPARENT_BRUSH);
        switch (mode) {
        case 0:  // a file pulled back
            gc.SetBrush(wxBrush(*wxWHITE));
            gc.SetPen(wxPen(c, 3));
            gc.DrawRectangle(115, 30, 50, 62);
            gc.StrokeLine(125, 50, 155, 50);
            gc.StrokeLine(125, 62, 155, 62);
            gc.StrokeLine(125, 74, 145, 74);
            break;
        case 1:  // a magnifier
            gc.DrawEllipse(112, 24, 50, 50);
            gc.StrokeLine(156, 68, 178, 90);
            break;
        default:  // a split disk
            gc.SetPen(wxPen(c, 4));
            gc.SetBrush(wxBrush(c.ChangeLightness(160)));
            gc.DrawEllipse(110, 22, 60, 60);
            gc.StrokeLine(140, 22, 140, 82);
            gc.StrokeLine(110, 52, 170, 52);
            break;
        }
    });
}

wxBitmap HelpButton(int state) {
    return Render(100, 45, [=](wxGraphicsContext& gc) {
        if (state == 1 || state == 2) {
            gc.SetBrush(wxBrush(state == 1 ? wxColour(226, 238, 250) : wxColour(200, 220, 240)));
            gc.SetPen(wxPen(wxColour(120, 160, 200), 1));
            gc.DrawRoundedRectangle(0.5, 4.5, 99, 38, 5);
        }
        gc.SetBrush(gc.CreateLinearGradientBrush(0, 12, 0, 36, wxColour(110, 170, 240), wxColour(30, 90, 190)));
        gc.SetPen(wxPen(wxColour(20, 60, 130), 1));
        gc.DrawEllipse(6, 12, 24, 24);
        gc.SetFont(wxFont(wxFontInfo(wxSize(0, 17)).Bold()), *wxWHITE);
        double tw, th;
        gc.GetTextExtent("?", &tw, &th);
        gc.DrawText("?", 18 - tw / 2, 24 - th / 2);
    });
}

// A tool button's picture: a framed band when hovered or pressed, and the button's sign at
// its left in blue (grey when disabled).
wxBitmap ToolButton(int width, int state, int first) {
    return Render(width, 45, [=](wxGraphicsContext& gc) {
        if (state == 1 || state == 2) {
            gc.SetBrush(wxBrush(state == 1 ? wxColour(226, 238, 250) : wxColour(200, 220, 240)));
            gc.SetPen(wxPen(wxColour(120, 160, 200), 1));
            gc.DrawRoundedRectangle(0.5, 4.5, width - 1, 38, 5);
        }
        const wxColour c = state == 3 ? wxColour(170, 170, 170) : wxColour(52, 120, 200);
        const wxColour paper = state == 3 ? wxColour(235, 235, 235) : *wxWHITE;
        gc.SetPen(wxPen(c, 3));
        gc.SetBrush(*wxTRANSPARENT_BRUSH);
        auto page = [&](double x, double y, double w, double h) {
            gc.SetPen(wxPen(c, 2));
            gc.SetBrush(wxBrush(paper));
            gc.DrawRectangle(x, y, w, h);
            gc.SetBrush(*wxTRANSPARENT_BRUSH);
        };
        auto magnifier = [&](double x, double y, double d) {
            gc.SetPen(wxPen(c, 3));
            gc.SetBrush(wxBrush(paper));
            gc.DrawEllipse(x, y, d, d);
            gc.StrokeLine(x + d * 0.85, y + d * 0.85, x + d * 1.35, y + d * 1.35);
        };
        switch (first) {
        case kBmpOption:  // a cog
            gc.DrawEllipse(10, 14, 18, 18);
            gc.StrokeLine(19, 10, 19, 36);
            gc.StrokeLine(6, 23, 32, 23);
            break;
        case kBmpRefresh: {  // a turning arrow: most of a circle with a head at its end
            wxGraphicsPath arc = gc.CreatePath();
            arc.AddArc(19, 23, 9, 0, 1.6 * M_PI, true);
            gc.StrokePath(arc);
            wxGraphicsPath head = gc.CreatePath();
            head.MoveToPoint(20, 9.5);
            head.AddLineToPoint(27, 14.5);
            head.AddLineToPoint(20.5, 19);
            head.CloseSubpath();
            gc.SetBrush(wxBrush(c));
            gc.FillPath(head);
            break;
        }
        case kBmpDiskImage:  // a disc
            gc.DrawEllipse(8, 12, 22, 22);
            gc.DrawEllipse(17, 21, 4, 4);
            break;
        case kBmpFindFile:  // a page and a magnifier
            page(6, 10, 18, 24);
            magnifier(15, 18, 11);
            break;
        case kBmpSearchFiles:  // two pages and a magnifier
            page(4, 8, 15, 20);
            page(10, 13, 15, 20);
            magnifier(17, 19, 10);
            break;
        case kBmpPreview:  // an eye
            gc.SetPen(wxPen(c, 2));
            gc.DrawEllipse(5, 15, 28, 16);
            gc.SetBrush(wxBrush(c));
            gc.DrawEllipse(14, 18, 10, 10);
            break;
        case kBmpThumbnail:  // four small pictures
            gc.SetPen(wxPen(c, 2));
            gc.SetBrush(wxBrush(paper));
            for (int i = 0; i < 4; ++i)
                gc.DrawRectangle(7 + (i % 2) * 13, 11 + (i / 2) * 13, 10, 10);
            break;
        case kBmpDetails:  // lines of a list
            gc.SetPen(wxPen(c, 3));
            for (int i = 0; i < 4; ++i) {
                gc.StrokeLine(6, 13 + i * 7, 9, 13 + i * 7);
                gc.StrokeLine(13, 13 + i * 7, 32, 13 + i * 7);
            }
            break;
        case kBmpSelectAll:  // a ticked box
            gc.SetPen(wxPen(c, 2));
            gc.SetBrush(wxBrush(paper));
            gc.DrawRectangle(8, 13, 20, 20);
            gc.SetPen(wxPen(c, 3));
            gc.StrokeLine(12, 23, 17, 28);
            gc.StrokeLine(17, 28, 25, 16);
            break;
        case kBmpDeselectAll:  // an empty box, crossed
            gc.SetPen(wxPen(c, 2));
            gc.SetBrush(wxBrush(paper));
            gc.DrawRectangle(8, 13, 20, 20);
            gc.StrokeLine(13, 18, 23, 28);
            gc.StrokeLine(23, 18, 13, 28);
            break;
        case kBmpState: {  // an "i"
            gc.SetPen(wxPen(c, 2));
            gc.DrawEllipse(7, 11, 24, 24);
            gc.SetFont(wxFont(wxFontInfo(wxSize(0, 15)).Bold()), c);
            double tw, th;
            gc.GetTextExtent("i", &tw, &th);
            gc.DrawText("i", 19 - tw / 2, 23 - th / 2);
            break;
        }
        default:  // a magnifier (Deep Scan Recovery)
            gc.DrawEllipse(8, 12, 16, 16);
            gc.StrokeLine(22, 26, 30, 34);
            break;
        }
    });
}

wxBitmap Header() {
    return Render(360, 52, [](wxGraphicsContext& gc) {
        gc.SetBrush(gc.CreateLinearGradientBrush(0, 4, 0, 48, wxColour(97, 185, 228), wxColour(40, 90, 150)));
        gc.SetPen(wxPen(wxColour(30, 60, 100), 1));
        gc.DrawRoundedRectangle(2, 4, 44, 44, 8);
        gc.SetBrush(wxBrush(wxColour(240, 240, 240)));
        gc.DrawEllipse(11, 13, 26, 26);
        gc.SetBrush(wxBrush(wxColour(80, 85, 94)));
        gc.DrawEllipse(21, 23, 6, 6);
        gc.SetFont(wxFont(wxFontInfo(wxSize(0, 24)).Bold().FaceName("Arial")), wxColour(40, 70, 110));
        gc.DrawText("Oxtavo", 56, 4);
        gc.SetFont(wxFont(wxFontInfo(wxSize(0, 14)).FaceName("Arial")), wxColour(90, 100, 115));
        gc.DrawText("Data Recovery", 58, 30);
    });
}

wxBitmap Footer() {
    return Render(676, 34, [](wxGraphicsContext& gc) {
        gc.SetPen(wxPen(wxColour(200, 203, 208), 1));
        gc.StrokeLine(0, 2, 676, 2);
    });
}

wxBitmap Make(int id) {
    switch (id) {
    case kBmpHeader: return Header();
    case kBmpFooter: return Footer();
    case kBmpDeletedNormal: return ModeButton(0, 0);
    case kBmpDeletedHover: return ModeButton(0, 1);
    case kBmpDeletedPressed: return ModeButton(0, 2);
    case kBmpDeletedDisabled: return ModeButton(0, 3);
    case kBmpDeepNormal: return ModeButton(1, 0);
    case kBmpDeepHover: return ModeButton(1, 1);
    case kBmpDeepPressed: return ModeButton(1, 2);
    case kBmpDeepDisabled: return ModeButton(1, 3);
    case kBmpLostNormal: return ModeButton(2, 0);
    case kBmpLostHover: return ModeButton(2, 1);
    case kBmpLostPressed: return ModeButton(2, 2);
    case kBmpLostDisabled: return ModeButton(2, 3);
    case kBmpHelpNormal: return HelpButton(0);
    case kBmpHelpHover: return HelpButton(1);
    case kBmpHelpPressed: return HelpButton(2);
    case kBmpHelpDisabled: return HelpButton(3);
    default: break;
    }
    for (int first : {kBmpOption, kBmpRefresh, kBmpDiskImage, kBmpThumbnail, kBmpDetails, kBmpFindFile, kBmpSearchFiles,
                      kBmpPreview, kBmpSelectAll, kBmpDeselectAll, kBmpState})
        if (id >= first && id < first + 4)
            return ToolButton(95, id - first, first);
    if (id >= kBmpDeepScanRecovery && id < kBmpDeepScanRecovery + 4)
        return ToolButton(190, id - kBmpDeepScanRecovery, kBmpDeepScanRecovery);
    switch (id) {
    case kBmpFloppy:
    case kBmpDisk:
    case kBmpVolume:
    case kBmpFoundPartition:
    case kBmpImageFile:
    case kBmpPreviousRecovery:
    case kBmpUsb: return RowPicture(id);
    default: return wxNullBitmap;
    }
}

} // namespace

void RegisterAppBitmaps() {
    static bool done = false;
    if (done)
        return;
    done = true;
    RegisterBitmapProvider(Make);
}

} // namespace appres
