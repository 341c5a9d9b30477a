#include "ui/views/wx/PartitionLayoutCtrl.h"

#include "ui/controls/Bitmaps.h"
#include "ui/controls/DrawHelpers.h"
#include "ui/controls/UiCommon.h"

#include <wx/dcbuffer.h>

namespace {

constexpr int kPartitionIconId = 210;

wxBitmap DrawnPartitionIcon(int w, int h) {
    wxBitmap bmp(w, h, 24);
    wxMemoryDC dc(bmp);
    dc.SetBackground(wxBrush(ui::ColorRef(0xF4F0EC)));
    dc.Clear();
    // A drive: a grey box with a green light.
    dc.SetPen(wxPen(wxColour(70, 74, 84)));
    dc.SetBrush(wxBrush(wxColour(176, 184, 196)));
    dc.DrawRoundedRectangle(1, h / 2 - 5, w - 2, 11, 2);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(wxColour(60, 170, 60)));
    dc.DrawRectangle(w - 6, h / 2 + 1, 3, 2);
    dc.SelectObject(wxNullBitmap);
    return bmp;
}

wxBitmap DrawnSourcePicture(int resourceId) {
    wxBitmap bmp(80, 52, 24);
    wxMemoryDC dc(bmp);
    const wxColour key(255, 0, 255);
    dc.SetBackground(wxBrush(key));
    dc.Clear();
    dc.SetPen(wxPen(wxColour(60, 64, 74)));
    if (resourceId == 353) { // disk image: a disc
        dc.SetBrush(wxBrush(wxColour(200, 206, 216)));
        dc.DrawCircle(40, 26, 23);
        dc.SetBrush(wxBrush(key));
        dc.DrawCircle(40, 26, 5);
    } else if (resourceId == 212) { // partition: a slice of a drive
        dc.SetBrush(wxBrush(wxColour(120, 160, 210)));
        dc.DrawRoundedRectangle(14, 14, 52, 24, 3);
        dc.SetBrush(wxBrush(wxColour(230, 236, 244)));
        dc.DrawRectangle(40, 18, 22, 16);
    } else { // disk or USB disk: a drive body
        dc.SetBrush(wxBrush(resourceId == 358 ? wxColour(120, 176, 120) : wxColour(176, 184, 196)));
        dc.DrawRoundedRectangle(6, 12, 68, 28, 4);
        dc.SetBrush(wxBrush(wxColour(60, 170, 60)));
        dc.DrawRectangle(62, 30, 6, 4);
        if (resourceId == 358) {
            dc.SetBrush(wxBrush(wxColour(90, 96, 106)));
            dc.DrawRectangle(0, 21, 7, 10);
        }
    }
    dc.SelectObject(wxNullBitmap);
    return bmp;
}

} // namespace

wxBitmap PartitionIconBitmap(int width, int height) {
    wxBitmap res = LoadBitmapResource(kPartitionIconId);
    if (res.IsOk()) {
        if (res.GetWidth() == width && res.GetHeight() == height)
            return res;
        return wxBitmap(res.ConvertToImage().Rescale(width, height, wxIMAGE_QUALITY_HIGH));
    }
    return DrawnPartitionIcon(width, height);
}

wxBitmap LayoutSourceBitmap(int resourceId) {
    wxBitmap res = LoadBitmapResource(resourceId);
    return res.IsOk() ? res : DrawnSourcePicture(resourceId);
}

// ---- View ----

CPartitionLayoutView::CPartitionLayoutView(CPartitionLayoutFrame* frame, wxWindowID id)
    : m_frame(frame), m_font(ui::PixelFont(14)), m_boldFont(ui::PixelFont(14, 700)),
      m_icon(PartitionIconBitmap()) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(frame, id, wxPoint(0, 0), wxSize(10, 10), wxVSCROLL | wxBORDER_NONE);
    SetScrollRate(0, 10);
    Bind(wxEVT_PAINT, &CPartitionLayoutView::OnPaint, this);
    Bind(wxEVT_SIZE, &CPartitionLayoutView::OnSize, this);
}

void CPartitionLayoutView::AddPartition(const PartitionBlockDesc& block) {
    if (m_model.Add(block)) {
        LayoutDisks();
        m_frame->RecalcLayout();
    } else {
        Refresh();
    }
}

void CPartitionLayoutView::RemovePartition(const PartitionBlockDesc& block) {
    if (m_model.Remove(block)) {
        LayoutDisks();
        m_frame->RecalcLayout();
    } else {
        Refresh();
    }
}

void CPartitionLayoutView::LayoutDisks() {
    const wxSize c = GetClientSize();
    m_model.LayoutDisks(0, c.x);
    SetVirtualSize(c.x, m_model.TotalHeight());
    Refresh();
}

void CPartitionLayoutView::OnSize(wxSizeEvent& e) {
    LayoutDisks();
    e.Skip();
}

void CPartitionLayoutView::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    DoPrepareDC(dc);
    const wxSize c = GetClientSize();
    int x0 = 0, y0 = 0;
    CalcUnscrolledPosition(0, 0, &x0, &y0);
    const wxColour back = ui::ColorRef(0xCBAA92);
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(back));
    dc.DrawRectangle(x0, y0, c.x, c.y);
    dc.DrawRectangle(0, 0, c.x, m_model.TotalHeight());
    dc.SetFont(m_font);
    for (const DiskBand& band : m_model.Bands())
        for (const PartitionBlock& block : band.blocks)
            DrawBlock(dc, block);
}

void CPartitionLayoutView::DrawBlock(wxDC& dc, const PartitionBlock& block) {
    const PartitionBlockParts p = CPartitionLayoutModel::BlockParts(block.rect);
    if (p.frame.IsEmpty())
        return;
    dc.SetPen(wxPen(ui::ColorRef(0x4B3C3A)));
    dc.SetBrush(wxBrush(ui::ColorRef(0xDBCEC4)));
    dc.DrawRectangle(ui::ToWx(p.frame));
    if (!p.detailed)
        return;
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(ui::ColorRef(0x549754)));
    dc.DrawRectangle(ui::ToWx(p.titleStrip));
    if (p.body.IsEmpty())
        return;
    const wxColour bodyColour = ui::ColorRef(0xF4F0EC);
    dc.SetBrush(wxBrush(bodyColour));
    dc.DrawRectangle(ui::ToWx(p.body));
    if (p.icon.Width() > 0) {
        wxMemoryDC src;
        wxBitmap icon = m_icon;
        src.SelectObject(icon);
        dc.Blit(p.icon.left, p.icon.top, p.icon.Width(), std::min(p.icon.Height(), p.body.Height()), &src, 0, 0);
        src.SelectObject(wxNullBitmap);
    }
    dc.SetTextForeground(*wxBLACK);
    if (p.nameText.Width() > 0) {
        dc.SetFont(m_boldFont);
        ui::DrawTextIn(dc, ui::FromUtf8(block.desc.name), ui::ToWx(p.nameText),
                       ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
        dc.SetFont(m_font);
    }
    if (p.detailText.Width() > 0 && p.detailText.Height() > 0) {
        wxDCClipper clip(dc, ui::ToWx(p.detailText));
        const wxString text = ui::FromUtf8(CPartitionLayoutModel::BlockDetailText(block.desc));
        int y = p.detailText.top;
        for (const wxString& line : wxSplit(text, '\n', '\0')) {
            dc.DrawText(line, p.detailText.left, y);
            y += dc.GetCharHeight();
        }
    }
}

// ---- Frame ----

CPartitionLayoutFrame::CPartitionLayoutFrame(wxWindow* parent, wxWindowID id)
    : wxWindow(parent, id, wxDefaultPosition, wxDefaultSize, wxCLIP_CHILDREN | wxBORDER_NONE),
      m_font(ui::PixelFont(14)) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_view = new CPartitionLayoutView(this, CPartitionLayoutView::kViewId);
    Bind(wxEVT_PAINT, &CPartitionLayoutFrame::OnPaint, this);
    Bind(wxEVT_SIZE, &CPartitionLayoutFrame::OnSize, this);
}

void CPartitionLayoutFrame::SetCaption(const LayoutSource& source) { Model().SetCaption(source); }

void CPartitionLayoutFrame::Place() {
    const wxSize c = GetClientSize();
    const LayoutFrameGeometry g = Model().FrameLayout(c.x, c.y);
    m_view->SetSize(ui::ToWx(g.view));
    m_panelHeight = g.panelHeight;
}

void CPartitionLayoutFrame::RecalcLayout() {
    Place();
    Refresh();
}

void CPartitionLayoutFrame::OnSize(wxSizeEvent& e) {
    Place();
    Refresh();
    e.Skip();
}

void CPartitionLayoutFrame::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    const wxSize c = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(m_background));
    dc.DrawRectangle(0, 0, c.x, c.y);
    dc.SetFont(m_font);
    dc.SetTextForeground(*wxBLACK);
    const CPartitionLayoutModel& m = Model();
    ui::DrawTextIn(dc, ui::FromUtf8(m.Caption()), wxRect(0, 0, c.x, CPartitionLayoutModel::kCaptionHeight),
                   ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
    // Source panel.
    const wxColour panel = ui::ColorRef(0xDDD0C6);
    dc.SetBrush(wxBrush(panel));
    dc.DrawRectangle(0, 19, CPartitionLayoutModel::kPanelWidth, m_panelHeight);
    if (m.PanelBitmap() != 0) {
        const wxBitmap bmp = LayoutSourceBitmap(m.PanelBitmap());
        dc.SetTextBackground(panel);
        DrawTransparentBitmapEx(dc, bmp, 8, 24, 80, 52, 1, 1);
    }
    ui::DrawTextIn(dc, ui::FromUtf8(m.PanelText()),
                   wxRect(0, 79, CPartitionLayoutModel::kPanelWidth, dc.GetCharHeight()),
                   ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine | ui::kTextEllipsis);
    // Frame around the view.
    const wxRect v = m_view->GetRect();
    dc.SetPen(wxPen(ui::ColorRef(0x4E403F)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, v.y - 1, c.x, v.height + 2);
}
