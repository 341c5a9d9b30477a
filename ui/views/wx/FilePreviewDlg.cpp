#include "ui/views/wx/FilePreviewDlg.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <wx/dcbuffer.h>

#include "ui/views/PictureProbe.h"
#include "ui/views/RtfReader.h"
#include "ui/views/wx/ThumbnailLoader.h"

CImageWindow::CImageWindow(wxWindow* parent)
    : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetScrollRate(10, 10);
    Bind(wxEVT_PAINT, &CImageWindow::OnPaint, this);
    Bind(wxEVT_SIZE, &CImageWindow::OnSize, this);
}

bool CImageWindow::LoadImage(const std::string& path) {
    wxImage image;
    if (!DecodePictureFile(path, kPreviewPixelCap, &image))
        return false;
    m_image = image;
    m_bitmap = wxBitmap(image);
    SetBestFit(m_bestFit);
    return m_bitmap.IsOk();
}

void CImageWindow::SetBestFit(bool fit) {
    m_bestFit = fit;
    if (m_bitmap.IsOk() && !fit)
        SetVirtualSize(m_bitmap.GetWidth(), m_bitmap.GetHeight());
    else
        SetVirtualSize(GetClientSize());
    Refresh();
}

wxRect CImageWindow::PictureRect() const {
    if (!m_bitmap.IsOk())
        return wxRect();
    const wxSize c = GetClientSize();
    int w = m_bitmap.GetWidth(), h = m_bitmap.GetHeight();
    if (m_bestFit && (w > c.x - 2 || h > c.y - 2) && c.x > 2 && c.y > 2) {
        // Keep the aspect ratio with a 1-pixel margin.
        const double s = std::min(double(c.x - 2) / w, double(c.y - 2) / h);
        w = std::max(1, int(w * s));
        h = std::max(1, int(h * s));
    }
    int x = w < c.x ? (c.x - w) / 2 : 0;
    int y = h < c.y ? (c.y - h) / 2 : 0;
    if (!m_bestFit) {
        int vx = 0, vy = 0, ux = 0, uy = 0;
        GetViewStart(&vx, &vy);
        GetScrollPixelsPerUnit(&ux, &uy);
        if (w >= c.x)
            x = -vx * ux;
        if (h >= c.y)
            y = -vy * uy;
    }
    return wxRect(x, y, w, h);
}

void CImageWindow::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxColour(241, 241, 241)));
    dc.Clear();
    if (!m_bitmap.IsOk()) {
        dc.SetTextForeground(wxColour(160, 0, 0));
        const wxSize te = dc.GetTextExtent(m_message);
        dc.DrawText(m_message, (GetClientSize().x - te.x) / 2, (GetClientSize().y - te.y) / 2);
        return;
    }
    const wxRect r = PictureRect();
    if (r.width == m_bitmap.GetWidth() && r.height == m_bitmap.GetHeight()) {
        dc.DrawBitmap(m_bitmap, r.x, r.y, true);
        return;
    }
    if (!m_fitted.IsOk() || m_fittedFor != r.GetSize()) {
        m_fitted = wxBitmap(m_image.Scale(r.width, r.height, wxIMAGE_QUALITY_HIGH));
        m_fittedFor = r.GetSize();
    }
    dc.DrawBitmap(m_fitted, r.x, r.y, true);
}

void CImageWindow::OnSize(wxSizeEvent& e) {
    SetBestFit(m_bestFit);
    e.Skip();
}

CFilePreviewDlg::CFilePreviewDlg(wxWindow* parent, const std::string& tempPath,
                                 const std::string& displayName)
    : CSkinnedViewDlg(302, parent, ui::FromUtf8(displayName + " - File Preview"), wxSize(720, 520), true) {
    CreateDialog();
    wxPanel* body = Body();
    m_tabs = new wxNotebook(body, 1160);
    wxFont mono(wxFontInfo(10).Family(wxFONTFAMILY_TELETYPE));
    auto makePage = [&](wxPanel*& page, wxTextCtrl*& view, wxScrollBar*& bar, int id) {
        page = new wxPanel(m_tabs);
        view = new wxTextCtrl(page, id, "", wxDefaultPosition, wxDefaultSize,
                              wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP | wxTE_NO_VSCROLL);
        view->SetFont(mono);
        bar = new wxScrollBar(page, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxSB_VERTICAL);
        auto* s = new wxBoxSizer(wxHORIZONTAL);
        s->Add(view, 1, wxEXPAND);
        s->Add(bar, 0, wxEXPAND);
        page->SetSizer(s);
        view->Bind(wxEVT_MOUSEWHEEL, &CFilePreviewDlg::OnWheel, this);
        view->Bind(wxEVT_KEY_DOWN, &CFilePreviewDlg::OnKey, this);
        view->Bind(wxEVT_CHAR, [](wxKeyEvent&) {});
        // The rows per page follow the view's own size, which the toolkit sets after the window's.
        view->Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
            e.Skip();
            CallAfter([this] { Refresh_(false); });
        });
        bar->Bind(wxEVT_SCROLL_CHANGED, &CFilePreviewDlg::OnScroll, this);
        bar->Bind(wxEVT_SCROLL_THUMBTRACK, &CFilePreviewDlg::OnScroll, this);
        bar->Bind(wxEVT_SCROLL_LINEUP, &CFilePreviewDlg::OnScroll, this);
        bar->Bind(wxEVT_SCROLL_LINEDOWN, &CFilePreviewDlg::OnScroll, this);
        bar->Bind(wxEVT_SCROLL_PAGEUP, &CFilePreviewDlg::OnScroll, this);
        bar->Bind(wxEVT_SCROLL_PAGEDOWN, &CFilePreviewDlg::OnScroll, this);
    };
    makePage(m_textPage, m_text, m_bar, 1158);
    makePage(m_hexPage, m_hex, m_hexBar, 1161);
    m_imagePage = new wxPanel(m_tabs);
    m_image = new CImageWindow(m_imagePage);
    // The kit's owner-drawn buttons with their captions.
    auto makeButton = [&](int id, const char* caption) {
        auto* b = new CTextCenterSimpleButtonPlus(0, 1, 1);
        b->Create(m_imagePage, id);
        b->SetCaption(caption);
        b->SetFont(ui::PixelFont(14));
        return b;
    };
    m_bestFit = makeButton(1156, "Best Fit");
    m_actualSize = makeButton(1159, "Actual Size");
    m_bestFit->SetToolTip("Best Fit");
    m_actualSize->SetToolTip("Actual Size");
    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    buttons->Add(m_bestFit, 0, wxALL, 4);
    buttons->Add(m_actualSize, 0, wxALL, 4);
    auto* imageSizer = new wxBoxSizer(wxVERTICAL);
    imageSizer->Add(m_image, 1, wxEXPAND);
    imageSizer->Add(buttons, 0, wxALIGN_CENTER_HORIZONTAL);
    m_imagePage->SetSizer(imageSizer);
    m_bestFit->Disable(); // the image view starts in best fit
    m_bestFit->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_image->SetBestFit(true);
        m_bestFit->Disable();
        m_actualSize->Enable();
    });
    m_actualSize->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_image->SetBestFit(false);
        m_actualSize->Disable();
        m_bestFit->Enable();
    });
    m_tabs->AddPage(m_textPage, "Text");
    m_tabs->AddPage(m_hexPage, "Hex");
    m_tabs->AddPage(m_imagePage, "Image");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_tabs, 1, wxEXPAND | wxALL, 2);
    body->SetSizer(sizer);

    m_loaded = m_file.Open(tempPath);
    if (m_loaded) {
        wxBusyCursor wait;
        m_index = BuildTextLineIndex(m_file);
    }
    const bool picture = m_image->LoadImage(tempPath);
    m_tabs->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, &CFilePreviewDlg::OnTabChanged, this);
    m_refreshTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Refresh_(true); });
    body->Bind(wxEVT_SIZE, &CFilePreviewDlg::OnSize, this);
    body->Layout();
    SelectTab(picture ? TAB_IMAGE : TAB_TEXT);
    CentreOnParent();
}

int CFilePreviewDlg::RowsPerPage() const {
    wxTextCtrl* view = CurrentTab() == TAB_HEX ? m_hex : m_text;
    const int lineHeight = std::max(1, view->GetCharHeight());
    int rows = std::max(1, view->GetClientSize().y / lineHeight - 1);
    if (CurrentTab() == TAB_HEX)
        rows = std::max(1, rows - 1); // the heading takes a row
    return rows;
}

void CFilePreviewDlg::SelectTab(int tab) {
    if (m_tabs->GetSelection() != tab) {
        m_tabs->ChangeSelection(static_cast<std::size_t>(tab));
    }
    // Convert the position through the file offset when the view changes.
    if (tab == TAB_HEX && m_positionView == TAB_TEXT) {
        m_position = TextLineToOffset(m_index, m_position) / kHexRowBytes;
        m_positionView = TAB_HEX;
    } else if (tab == TAB_TEXT && m_positionView == TAB_HEX) {
        m_position = TextOffsetToLine(m_index, m_position * kHexRowBytes);
        m_positionView = TAB_TEXT;
    }
    Refresh_();
}

void CFilePreviewDlg::ScrollTo(std::uint64_t line) {
    m_position = line;
    Refresh_(true);
}

void CFilePreviewDlg::ScrollFromUser(std::uint64_t line) {
    const bool hex = CurrentTab() == TAB_HEX;
    const std::uint64_t count = hex ? HexRows() : TextLines();
    const std::uint64_t rows = static_cast<std::uint64_t>(RowsPerPage());
    m_position = std::min(line, count);
    // At either end the page is shown at once; in between at most every 100 ms.
    const bool atEnd = m_position == 0 || m_position + rows >= count;
    Refresh_(atEnd);
}

void CFilePreviewDlg::ApplyHexTabStops() {
    if (m_hexTabs.IsEmpty()) {
        // One stop every 15 dialog units, given in tenths of a millimetre.
        const int px = std::max(1, m_hex->ConvertDialogToPixels(wxPoint(15, 0)).x);
        const double dpi = std::max(1, m_hex->GetDPI().x);
        for (int i = 1; i <= 40; ++i)
            m_hexTabs.Add(static_cast<int>(i * px * 254.0 / dpi + 0.5));
    }
    wxTextAttr attr;
    attr.SetTabs(m_hexTabs);
    m_hex->SetStyle(0, m_hex->GetLastPosition(), attr);
}

void CFilePreviewDlg::Refresh_(bool force) {
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - m_lastRefresh < std::chrono::milliseconds(100)) {
        if (!m_refreshTimer.IsRunning())
            m_refreshTimer.StartOnce(100);
        return;
    }
    m_refreshTimer.Stop();
    m_lastRefresh = now;
    const int tab = CurrentTab();
    if (tab == TAB_IMAGE) {
        m_image->Refresh();
        return;
    }
    const bool hex = tab == TAB_HEX;
    const std::uint64_t count = hex ? HexRows() : TextLines();
    const int rows = RowsPerPage();
    m_position = ClampFirstLine(std::min(m_position, count), static_cast<std::uint64_t>(rows), count);
    wxTextCtrl* view = hex ? m_hex : m_text;
    wxScrollBar* bar = hex ? m_hexBar : m_bar;
    const std::string page = !m_loaded ? std::string()
                             : hex     ? HexPage(m_file, m_position, static_cast<std::uint64_t>(rows))
                                       : TextPage(m_file, m_index, m_position, static_cast<std::uint64_t>(rows));
    view->ChangeValue(wxString::FromUTF8(page));
    if (hex)
        ApplyHexTabStops();
    view->SetInsertionPoint(0);
    view->ShowPosition(0);
    // Scroll bars hold ints: positions beyond that range are scaled.
    const int range = static_cast<int>(std::min<std::uint64_t>(count, 0x7FFFFFFF));
    bar->SetScrollbar(static_cast<int>(std::min<std::uint64_t>(m_position, 0x7FFFFFFF)), rows,
                      std::max(range, 1), rows);
    bar->Enable(count > static_cast<std::uint64_t>(rows));
}

void CFilePreviewDlg::OnTabChanged(wxBookCtrlEvent& e) { SelectTab(e.GetSelection()); }

void CFilePreviewDlg::OnScroll(wxScrollEvent& e) {
    ScrollFromUser(static_cast<std::uint64_t>(std::max(0, e.GetPosition())));
}

void CFilePreviewDlg::OnWheel(wxMouseEvent& e) {
    if (e.GetWheelRotation() > 0)
        ScrollFromUser(m_position > 3 ? m_position - 3 : 0);
    else
        ScrollFromUser(m_position + 3);
}

void CFilePreviewDlg::OnKey(wxKeyEvent& e) {
    const std::uint64_t rows = static_cast<std::uint64_t>(RowsPerPage());
    std::uint64_t line = m_position;
    switch (e.GetKeyCode()) {
    case WXK_UP: line = line ? line - 1 : 0; break;
    case WXK_DOWN: ++line; break;
    case WXK_PAGEUP: line = line > rows ? line - rows : 0; break;
    case WXK_PAGEDOWN: line += rows; break;
    case WXK_HOME: line = 0; break;
    case WXK_END: line = ~std::uint64_t(0) / 2; break;
    default: e.Skip(); return;
    }
    ScrollFromUser(line);
}

void CFilePreviewDlg::OnSize(wxSizeEvent& e) {
    e.Skip();
    CallAfter([this] { Refresh_(false); });
}

CRtfPreviewerDlg::CRtfPreviewerDlg(wxWindow* parent, const std::string& path, const std::string& title)
    : CSkinnedViewDlg(305, parent, ui::FromUtf8(title), wxSize(640, 480), true) {
    CreateDialog();
    m_text = new wxTextCtrl(Body(), 1165, "", wxDefaultPosition, wxDefaultSize,
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_RICH2);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_text, 1, wxEXPAND);
    Body()->SetSizer(sizer);
    Body()->Layout();
    std::vector<std::uint8_t> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        struct stat st {};
        if (::fstat(fd, &st) == 0 && st.st_size > 0 &&
            static_cast<std::uint64_t>(st.st_size) <= kMaxPreviewFileSize) {
            bytes.resize(static_cast<std::size_t>(st.st_size));
            std::size_t got = 0;
            while (got < bytes.size()) {
                const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(got));
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            bytes.resize(got);
        }
        ::close(fd);
    }
    RtfDocument doc;
    if (ReadRtf(bytes.data(), bytes.size(), &doc)) {
        const wxFont base = m_text->GetFont();
        for (const RtfRun& run : doc.runs) {
            const long start = m_text->GetLastPosition();
            m_text->AppendText(wxString::FromUTF8(run.text));
            wxFont font = base;
            font.SetPointSize(std::max(4, run.halfPoints / 2));
            font.SetWeight(run.bold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
            font.SetStyle(run.italic ? wxFONTSTYLE_ITALIC : wxFONTSTYLE_NORMAL);
            font.SetUnderlined(run.underline);
            wxTextAttr attr(run.hasColor ? wxColour((run.color >> 16) & 0xFF, (run.color >> 8) & 0xFF,
                                                    run.color & 0xFF)
                                         : *wxBLACK);
            attr.SetFont(font);
            m_text->SetStyle(start, m_text->GetLastPosition(), attr);
        }
    }
    m_text->SetInsertionPoint(0);
    m_text->ShowPosition(0);
    CentreOnParent();
}
