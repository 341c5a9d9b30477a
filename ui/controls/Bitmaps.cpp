#include "ui/controls/Bitmaps.h"

#include "ui/controls/Resources.h"
#include "ui/controls/StringTable.h"

#include <wx/wx.h>
#include <wx/graphics.h>
#include <wx/image.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace {

// Renders into a transparent image of w x h.
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

void Gradient(wxGraphicsContext& gc, double x, double y, double w, double h, double r, const wxColour& top,
              const wxColour& bottom, const wxColour& border) {
    gc.SetBrush(gc.CreateLinearGradientBrush(0, y, 0, y + h, top, bottom));
    gc.SetPen(wxPen(border, 1));
    gc.DrawRoundedRectangle(x, y, w, h, r);
}

// Caption buttons (95 x 39, and the other rounded push buttons) in one of four states.
wxBitmap PushButton(int w, int h, int state) {
    return Render(w, h, [=](wxGraphicsContext& gc) {
        const double r = 5;
        switch (state) {
        case 0: Gradient(gc, 2.5, 4.5, w - 5, h - 9, r, wxColour(252, 252, 252), wxColour(214, 218, 224), wxColour(140, 146, 156)); break;
        case 1: Gradient(gc, 2.5, 4.5, w - 5, h - 9, r, wxColour(236, 246, 253), wxColour(178, 214, 238), wxColour(60, 127, 177)); break;
        case 2: Gradient(gc, 2.5, 4.5, w - 5, h - 9, r, wxColour(170, 196, 220), wxColour(222, 234, 245), wxColour(44, 98, 139)); break;
        default: Gradient(gc, 2.5, 4.5, w - 5, h - 9, r, wxColour(244, 244, 244), wxColour(232, 232, 232), wxColour(190, 190, 190)); break;
        }
    });
}

// A push button whose picture carries its caption.
wxBitmap CaptionedButton(int w, int h, int state, const wxString& caption) {
    wxImage image = PushButton(w, h, state).ConvertToImage();
    std::unique_ptr<wxGraphicsContext> gc(wxGraphicsContext::Create(image));
    if (gc) {
        gc->SetFont(wxFont(wxFontInfo(wxSize(0, 14)).Family(wxFONTFAMILY_SWISS)),
                    state == 3 ? wxColour(160, 160, 160) : wxColour(30, 30, 30));
        double tw, th;
        gc->GetTextExtent(caption, &tw, &th);
        gc->DrawText(caption, (w - tw) / 2, (h - th) / 2);
    }
    gc.reset();
    return wxBitmap(image);
}

// The 22 x 22 close button: a cross on a rounded square.
wxBitmap CloseButton(int state) {
    return Render(22, 22, [=](wxGraphicsContext& gc) {
        const wxColour fills[] = {wxColour(200, 84, 72), wxColour(232, 110, 96), wxColour(160, 52, 44), wxColour(190, 190, 190)};
        gc.SetBrush(wxBrush(fills[state]));
        gc.SetPen(wxPen(wxColour(90, 40, 36), 1));
        gc.DrawRoundedRectangle(1.5, 1.5, 19, 19, 4);
        gc.SetPen(wxPen(*wxWHITE, 2));
        gc.StrokeLine(7, 7, 15, 15);
        gc.StrokeLine(15, 7, 7, 15);
    });
}

wxBitmap Icon(int id) {
    return Render(48, 48, [=](wxGraphicsContext& gc) {
        gc.SetFont(wxFont(wxFontInfo(wxSize(0, 30)).Family(wxFONTFAMILY_SWISS).Bold()), *wxWHITE);
        auto centred = [&gc](const wxString& s, double cy) {
            double tw, th;
            gc.GetTextExtent(s, &tw, &th);
            gc.DrawText(s, 24 - tw / 2, cy - th / 2);
        };
        switch (id) {
        case uires::kBmpIconWarning: {
            wxGraphicsPath p = gc.CreatePath();
            p.MoveToPoint(24, 3);
            p.AddLineToPoint(46, 44);
            p.AddLineToPoint(2, 44);
            p.CloseSubpath();
            gc.SetBrush(gc.CreateLinearGradientBrush(0, 3, 0, 44, wxColour(255, 226, 80), wxColour(240, 180, 0)));
            gc.SetPen(wxPen(wxColour(150, 110, 0), 2));
            gc.DrawPath(p);
            gc.SetFont(wxFont(wxFontInfo(wxSize(0, 28)).Family(wxFONTFAMILY_SWISS).Bold()), wxColour(40, 30, 0));
            centred("!", 29);
            break;
        }
        case uires::kBmpIconError:
            gc.SetBrush(gc.CreateLinearGradientBrush(0, 2, 0, 46, wxColour(240, 90, 80), wxColour(180, 20, 20)));
            gc.SetPen(wxPen(wxColour(120, 10, 10), 2));
            gc.DrawEllipse(3, 3, 42, 42);
            gc.SetPen(wxPen(*wxWHITE, 5));
            gc.StrokeLine(16, 16, 32, 32);
            gc.StrokeLine(32, 16, 16, 32);
            break;
        case uires::kBmpIconInformation:
        case uires::kBmpIconQuestion:
            gc.SetBrush(gc.CreateLinearGradientBrush(0, 2, 0, 46, wxColour(110, 170, 240), wxColour(30, 90, 190)));
            gc.SetPen(wxPen(wxColour(20, 60, 130), 2));
            gc.DrawEllipse(3, 3, 42, 42);
            centred(id == uires::kBmpIconInformation ? "i" : "?", 24);
            break;
        case uires::kBmpIconSuccess:
            gc.SetBrush(gc.CreateLinearGradientBrush(0, 2, 0, 46, wxColour(110, 210, 110), wxColour(30, 140, 40)));
            gc.SetPen(wxPen(wxColour(20, 90, 20), 2));
            gc.DrawEllipse(3, 3, 42, 42);
            {
                wxGraphicsPath p = gc.CreatePath();
                p.MoveToPoint(13, 25);
                p.AddLineToPoint(21, 33);
                p.AddLineToPoint(35, 15);
                gc.SetPen(wxPen(*wxWHITE, 5));
                gc.StrokePath(p);
            }
            break;
        default: break;
        }
    });
}

wxBitmap Logo() {
    return Render(64, 64, [](wxGraphicsContext& gc) {
        gc.SetBrush(gc.CreateLinearGradientBrush(0, 0, 0, 64, wxColour(97, 185, 228), wxColour(40, 90, 150)));
        gc.SetPen(wxPen(wxColour(30, 60, 100), 2));
        gc.DrawRoundedRectangle(2, 2, 60, 60, 10);
        gc.SetBrush(wxBrush(wxColour(240, 240, 240)));
        gc.SetPen(wxPen(wxColour(60, 60, 60), 1));
        gc.DrawEllipse(14, 14, 36, 36);
        gc.SetBrush(wxBrush(wxColour(80, 85, 94)));
        gc.DrawEllipse(28, 28, 8, 8);
    });
}

wxBitmap Make(int id) {
    using namespace uires;
    switch (id) {
    case kBmpCaptionNormal: return PushButton(95, 39, 0);
    case kBmpCaptionHover: return PushButton(95, 39, 1);
    case kBmpCaptionPressed: return PushButton(95, 39, 2);
    case kBmpCaptionDisabled: return PushButton(95, 39, 3);
    case kBmpCancelNormal: return CaptionedButton(95, 39, 0, wxString::FromUTF8(uistr::LoadUiString(uistr::kCancel)));
    case kBmpCancelHover: return CaptionedButton(95, 39, 1, wxString::FromUTF8(uistr::LoadUiString(uistr::kCancel)));
    case kBmpCancelPressed: return CaptionedButton(95, 39, 2, wxString::FromUTF8(uistr::LoadUiString(uistr::kCancel)));
    case kBmpCancelDisabled: return CaptionedButton(95, 39, 3, wxString::FromUTF8(uistr::LoadUiString(uistr::kCancel)));
    // The preview's picture buttons, their captions drawn in.
    case kBmpBestFitNormal: return CaptionedButton(95, 32, 0, "Best Fit");
    case kBmpBestFitHover: return CaptionedButton(95, 32, 1, "Best Fit");
    case kBmpBestFitPressed: return CaptionedButton(95, 32, 2, "Best Fit");
    case kBmpBestFitDisabled: return CaptionedButton(95, 32, 3, "Best Fit");
    case kBmpActualSizeNormal: return CaptionedButton(95, 32, 0, "Actual Size");
    case kBmpActualSizeHover: return CaptionedButton(95, 32, 1, "Actual Size");
    case kBmpActualSizePressed: return CaptionedButton(95, 32, 2, "Actual Size");
    case kBmpActualSizeDisabled: return CaptionedButton(95, 32, 3, "Actual Size");
    case kBmpSimpleNormal: return PushButton(80, 26, 0);
    case kBmpSimpleHover: return PushButton(80, 26, 1);
    case kBmpSimplePressed: return PushButton(80, 26, 2);
    case kBmpSimpleDisabled: return PushButton(80, 26, 3);
    case kBmpSmallOkNormal: return PushButton(75, 30, 0);
    case kBmpSmallOkPressed: return PushButton(75, 30, 2);
    case kBmpCloseNormal: return CloseButton(0);
    case kBmpCloseHover: return CloseButton(1);
    case kBmpClosePressed: return CloseButton(2);
    case kBmpCloseDisabled: return CloseButton(3);
    case kBmpIconWarning:
    case kBmpIconError:
    case kBmpIconInformation:
    case kBmpIconSuccess:
    case kBmpIconQuestion: return Icon(id);
    case kBmpLogo: return Logo();
    default: return wxNullBitmap;
    }
}

} // namespace

namespace {
std::vector<std::function<wxBitmap(int)>>& Providers() {
    static std::vector<std::function<wxBitmap(int)>> providers;
    return providers;
}
} // namespace

void RegisterBitmapProvider(std::function<wxBitmap(int)> provider) { Providers().push_back(std::move(provider)); }

wxBitmap LoadBitmapResource(int id) {
    wxBitmap bmp = Make(id);
    for (auto it = Providers().begin(); !bmp.IsOk() && it != Providers().end(); ++it)
        bmp = (*it)(id);
    return bmp;
}
