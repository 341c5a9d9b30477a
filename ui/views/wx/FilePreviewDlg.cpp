#include "ui/views/wx/FilePreviewDlg.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <wx/dcbuffer.h>
#include <wx/display.h>

#include "ui/controls/BuildDirectoryDlg.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/Resources.h"

#include "ui/views/PictureProbe.h"
#include "ui/views/RtfReader.h"
#include "ui/views/wx/ThumbnailLoader.h"

CImageWindow::CImageWindow(wxWindow* parent)
    : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxHSCROLL | wxVSCROLL) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetScrollRate(10, 10);
    Bind(wxEVT_PAINT, &CImageWindow::OnPaint, this);
    Bind(wxEVT_SIZE, &CImageWindow::OnSize, this);
    // Right-button presses do nothing here.
    Bind(wxEVT_RIGHT_DOWN, [](wxMouseEvent&) {});
    Bind(wxEVT_RIGHT_UP, [](wxMouseEvent&) {});
    Bind(wxEVT_CONTEXT_MENU, [](wxContextMenuEvent&) {});
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
    const wxSize client = GetClientSize();
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    if (!m_bitmap.IsOk()) {
        dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
        dc.SetTextForeground(*wxBLACK);
        dc.SetFont(GetFont());
        ui::DrawTextIn(dc, m_message, wxRect(client), ui::kTextCenter | ui::kTextVCenter | ui::kTextSingleLine);
    } else {
        const wxRect r = PictureRect();
        if (r.width == m_bitmap.GetWidth() && r.height == m_bitmap.GetHeight()) {
            dc.DrawBitmap(m_bitmap, r.x, r.y, true);
        } else {
            if (!m_fitted.IsOk() || m_fittedFor != r.GetSize()) {
                m_fitted = wxBitmap(m_image.Scale(r.width, r.height, wxIMAGE_QUALITY_HIGH));
                m_fittedFor = r.GetSize();
            }
            dc.DrawBitmap(m_fitted, r.x, r.y, true);
        }
    }
    // The grey frame round the view, the same colour on both sides.
    dc.SetPen(wxPen(wxColour(0x80, 0x80, 0x80)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, client.x, client.y);
}

void CImageWindow::OnSize(wxSizeEvent& e) {
    SetBestFit(m_bestFit);
    e.Skip();
}

CFilePreviewDlg::CFilePreviewDlg(wxWindow* parent, const std::string& tempPath,
                                 const std::string& displayName)
    : CSkinnedViewDlg(302, parent, ui::FromUtf8(displayName + " - File Preview"), wxSize(720, 520), true) {
    // The file and its line index first, behind the progress dialog: no view exists yet that
    // the events it lets through could reach.
    m_loaded = m_file.Open(tempPath);
    if (m_loaded)
        BuildIndexWithProgress();
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
        // Nothing is typed, pasted or offered by the right button.
        view->Bind(wxEVT_RIGHT_DOWN, [](wxMouseEvent&) {});
        view->Bind(wxEVT_RIGHT_UP, [](wxMouseEvent&) {});
        view->Bind(wxEVT_CONTEXT_MENU, [](wxContextMenuEvent&) {});
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
    // The hex view shows no selection: focusing it drops any and shows the caret.
    m_hex->Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& e) {
        e.Skip();
        CallAfter([this] {
            const long at = m_hex->GetInsertionPoint();
            m_hex->SetSelection(at, at);
            m_hex->ShowPosition(at);
        });
    });
    m_imagePage = new wxPanel(m_tabs);
    m_image = new CImageWindow(m_imagePage);
    m_bestFit = new CButtonPlus(uires::kBmpBestFitNormal, uires::kBmpBestFitHover, uires::kBmpBestFitPressed,
                                uires::kBmpBestFitDisabled);
    m_bestFit->Create(m_imagePage, 1156);
    m_actualSize = new CButtonPlus(uires::kBmpActualSizeNormal, uires::kBmpActualSizeHover,
                                   uires::kBmpActualSizePressed, uires::kBmpActualSizeDisabled);
    m_actualSize->Create(m_imagePage, 1159);
    m_bestFit->SetToolTip("Best Fit");
    m_actualSize->SetToolTip("Actual Size");
    m_info = new wxStaticText(m_imagePage, 1222, wxString(), wxDefaultPosition, wxDefaultSize,
                              wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END);
    m_imagePage->Bind(wxEVT_SIZE, [this](wxSizeEvent& e) {
        LayoutImagePage();
        e.Skip();
    });
    m_bestFit->Disable(); // the image view starts in best fit
    m_bestFit->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_image->SetBestFit(true);
        m_bestFit->Disable();
        m_actualSize->Enable();
        m_image->SetFocus();
    });
    m_actualSize->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        m_image->SetBestFit(false);
        m_actualSize->Disable();
        m_bestFit->Enable();
        m_image->SetFocus();
    });
    m_tabs->AddPage(m_textPage, "Text");
    m_tabs->AddPage(m_hexPage, "Hex");
    m_tabs->AddPage(m_imagePage, "Image");
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_tabs, 1, wxEXPAND | wxALL, 2);
    body->SetSizer(sizer);

    const bool picture = m_image->LoadImage(tempPath);
    FillInfoText(tempPath);
    m_tabs->Bind(wxEVT_NOTEBOOK_PAGE_CHANGED, &CFilePreviewDlg::OnTabChanged, this);
    m_refreshTimer.SetOwner(this);
    Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Refresh_(true); });
    body->Bind(wxEVT_SIZE, &CFilePreviewDlg::OnSize, this);
    body->Layout();
    FitHexRow();
    SelectTab(picture ? TAB_IMAGE : TAB_TEXT);
    CentreOnParent();
}

void CFilePreviewDlg::BuildIndexWithProgress() {
    // The main window waits, disabled, while the index is built.
    wxWindow* main = wxTheApp ? wxTheApp->GetTopWindow() : nullptr;
    if (main == this || (main && !main->IsEnabled()))
        main = nullptr;
    if (main)
        main->Disable();
    auto* dlg = new CBuildDirectoryDlg(uires::kDlgLoadingFile);
    dlg->CreateModeless();
    // Reading the file is not stopped half way: the dialog offers no Cancel.
    dlg->SetNoCancel(true);
    CDIRBuildCallback progress(dlg);
    progress.BeginStage("Loading file...", 20);
    m_index = BuildTextLineIndex(m_file, [&progress](int step) {
        progress.SetPos(step);
        return true;
    });
    progress.Reset();
    progress.Poll();
    // Gone from the screen at once; the window itself goes when the events are next handled.
    dlg->Hide();
    dlg->Destroy();
    if (main)
        main->Enable();
}

void CFilePreviewDlg::FillInfoText(const std::string& path) {
    struct stat st {};
    const std::int64_t size = ::stat(path.c_str(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : 0;
    std::string text;
    if (m_image->HasPicture()) {
        const wxSize p = m_image->PictureSize();
        text = std::to_string(p.x) + " x " + std::to_string(p.y) + " pixels, ";
    }
    text += uifmt::FormatSize(size);
    m_info->SetLabel(ui::FromUtf8(text));
    m_info->SetToolTip(ui::FromUtf8(text));
}

void CFilePreviewDlg::LayoutImagePage() {
    // The picture above a band as high as the buttons plus 2: the info line along it, the two
    // buttons side by side in its middle.
    const wxSize c = m_imagePage->GetClientSize();
    const wxSize b = m_bestFit->GetButtonSize();
    const wxSize a = m_actualSize->GetButtonSize();
    const int band = std::max(b.y, a.y) + 2;
    const int top = std::max(0, c.y - band);
    m_image->SetSize(0, 0, c.x, top);
    const int gap = 6;
    const int x = std::max(0, (c.x - b.x - gap - a.x) / 2);
    m_bestFit->MoveTo(x, top + 1);
    m_actualSize->MoveTo(x + b.x + gap, top + 1);
    const int textHeight = m_info->GetCharHeight() + 2;
    m_info->SetSize(4, top + (band - textHeight) / 2, std::max(0, x - 8), textHeight);
}

int CFilePreviewDlg::HexRowWidth() const {
    // Lays a row out as the view does: each tab moves to the next stop (one every 15 dialog
    // units) past the text before it. The last row has a tab after each byte, so its characters
    // stand one stop further than a full row's; that is the width taken.
    const int stop = std::max(1, m_hex->ConvertDialogToPixels(wxPoint(15, 0)).x);
    wxClientDC dc(m_hex);
    dc.SetFont(m_hex->GetFont());
    int x = dc.GetTextExtent("00000000").x;
    auto tab = [&] { x = (x / stop + 1) * stop; };
    tab();
    tab();
    const int byteWidth = dc.GetTextExtent("FF").x;
    for (std::uint32_t i = 0; i < kHexRowBytes; ++i) {
        x += byteWidth;
        tab();
    }
    tab();
    tab();
    // The view's own margin on the left.
    return 6 + x + dc.GetTextExtent(wxString('W', kHexRowBytes)).x;
}

void CFilePreviewDlg::FitHexRow() {
    // The window opens wide enough for a whole hex row where the display allows; a narrower
    // window scrolls the view sideways. The pages are not laid out yet, so the room around the
    // view is added up: the view's own frame and margins, its scroll bar, the notebook's page
    // frame, the sizer's 2 pixels and the window border on either side.
    const int around = 12 + m_hexBar->GetBestSize().x + 8 + 2 * 2 + 2 * BorderWidth();
    const int width = HexRowWidth() + around;
    const wxSize c = GetClientSize();
    if (width <= c.x)
        return;
    const int display = wxDisplay::GetFromWindow(this);
    const wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    const int fitted = std::min(width, area.width - 20);
    if (fitted > c.x)
        ResizeTo(wxSize(fitted, c.y));
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
    // The tab's view takes the focus.
    if (tab == TAB_TEXT)
        m_text->SetFocus();
    else if (tab == TAB_HEX)
        m_hex->SetFocus();
    else
        m_image->SetFocus();
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
    // One line per turn of the wheel, whatever the desktop's lines per turn.
    if (e.GetWheelRotation() > 0)
        ScrollFromUser(m_position > 0 ? m_position - 1 : 0);
    else if (e.GetWheelRotation() < 0)
        ScrollFromUser(m_position + 1);
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
