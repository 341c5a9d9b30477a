#include "ui/controls/HyperLink.h"

#include "logging/Log.h"
#include "platform/DesktopUser.h"
#include "ui/controls/ButtonLogic.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/MessageBoxDlg.h"
#include "ui/controls/StringTable.h"

#include <wx/dcbuffer.h>
#include <wx/utils.h>

namespace {

// The desktop's browser through xdg-open; started as root for a desktop user, it runs as that
// user (platform/DesktopUser.h).
bool DefaultUrlOpener(const std::string& target, const std::vector<std::string>&) {
    return platform::LaunchForDesktopUser({"xdg-open", target});
}

// The desktop's file manager through xdg-open (it cannot select files; the folder opens), as
// the desktop user too.
bool DefaultFolderOpener(const std::string& folder, const std::vector<std::string>&) {
    return platform::LaunchForDesktopUser({"xdg-open", folder});
}

CHyperLink::Opener& UrlOpener() {
    static CHyperLink::Opener opener = DefaultUrlOpener;
    return opener;
}
CHyperLink::Opener& FolderOpener() {
    static CHyperLink::Opener opener = DefaultFolderOpener;
    return opener;
}

} // namespace

void CHyperLink::SetUrlOpener(Opener opener) { UrlOpener() = opener ? std::move(opener) : DefaultUrlOpener; }
void CHyperLink::SetFolderOpener(Opener opener) { FolderOpener() = opener ? std::move(opener) : DefaultFolderOpener; }

CHyperLink::CHyperLink(int mode) : m_mode(mode) {}

CHyperLink::~CHyperLink() { m_timer.Stop(); }

bool CHyperLink::Create(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos, const wxSize& size,
                        long style) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    m_align = style & (wxALIGN_RIGHT | wxALIGN_CENTRE_HORIZONTAL);
    if (!wxControl::Create(parent, id, pos, size, wxBORDER_NONE))
        return false;
    wxString label = text;
    if (m_target.empty())
        m_target = ui::ToUtf8(label);
    if (label.empty())
        label = ui::FromUtf8(m_target);
    SetLabel(label);
    m_normalFont = ui::PixelFont(14);
    m_underlinedFont = m_normalFont.Underlined();
    SetCursor(wxCursor(wxCURSOR_HAND));
    SetToolTip(ui::FromUtf8(m_target));
    FitToText();
    m_timer.SetOwner(this);
    Bind(wxEVT_TIMER, &CHyperLink::OnTimer, this);
    Bind(wxEVT_PAINT, &CHyperLink::OnPaint, this);
    Bind(wxEVT_MOTION, &CHyperLink::OnMotion, this);
    Bind(wxEVT_ENTER_WINDOW, &CHyperLink::OnMotion, this);
    Bind(wxEVT_LEAVE_WINDOW, &CHyperLink::OnLeave, this);
    Bind(wxEVT_LEFT_UP, &CHyperLink::OnClick, this);
    return true;
}

wxSize CHyperLink::DoGetBestSize() const {
    wxClientDC dc(const_cast<CHyperLink*>(this));
    dc.SetFont(m_underlinedFont.IsOk() ? m_underlinedFont : GetFont());
    return dc.GetTextExtent(GetLabel());
}

void CHyperLink::FitToText() {
    if (!GetHandle())
        return;
    const wxRect old = GetRect();
    const wxSize text = DoGetBestSize();
    int x = old.x;
    if (m_align & wxALIGN_RIGHT)
        x = old.GetRight() + 1 - text.x;
    else if (m_align & wxALIGN_CENTRE_HORIZONTAL)
        x = old.x + (old.width - text.x) / 2;
    SetSize(x, old.y, text.x, text.y);
}

void CHyperLink::SetURL(const std::string& target) {
    m_target = target;
    if (GetHandle()) {
        FitToText();
        SetToolTip(ui::FromUtf8(m_target));
    }
}

void CHyperLink::SetLinkText(const wxString& text) {
    SetLabel(text);
    FitToText();
    Refresh();
}

void CHyperLink::SetUnderline(int mode) {
    m_underline = mode;
    Refresh();
}

wxColour CHyperLink::CurrentColour() const {
    if (m_hover)
        return m_hoverColour;
    return m_visited ? m_visitedColour : m_link;
}

void CHyperLink::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(wxColour(241, 241, 241)));
    if (GetParent())
        dc.SetBackground(wxBrush(GetParent()->GetBackgroundColour()));
    dc.Clear();
    dc.SetFont((m_underline == 1 || m_hover) ? m_underlinedFont : m_normalFont);
    dc.SetTextForeground(CurrentColour());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    dc.DrawText(GetLabel(), 0, 0);
}

void CHyperLink::OnMotion(wxMouseEvent& e) {
    const bool inside = wxRect(GetClientSize()).Contains(e.GetPosition());
    if (inside && !m_hover) {
        m_hover = true;
        Refresh();
        m_timer.Start(100);
    } else if (!inside && m_hover) {
        EndHover();
    }
    e.Skip();
}

void CHyperLink::OnLeave(wxMouseEvent& e) {
    if (m_hover)
        EndHover();
    e.Skip();
}

void CHyperLink::OnTimer(wxTimerEvent&) {
    const wxPoint p = ScreenToClient(wxGetMousePosition());
    if (!wxRect(GetClientSize()).Contains(p))
        EndHover();
}

void CHyperLink::EndHover() {
    m_hover = false;
    m_timer.Stop();
    Refresh();
}

void CHyperLink::OnClick(wxMouseEvent& e) {
    if (wxRect(GetClientSize()).Contains(e.GetPosition()))
        FollowLink();
}

void CHyperLink::FollowLink() {
    m_hover = false;
    m_timer.Stop();
    if (m_mode == kFolderMode) {
        if (!uifmt::FolderExists(m_target)) {
            ShowMessageBox(kMbInformation, uistr::UiString(uistr::kPathInvalid));
            Refresh();
            return;
        }
        if (!FolderOpener()(m_target, m_paths)) {
            // A desktop user who cannot be looked up gets no file manager of root's instead.
            if (const std::string why = platform::DesktopUserRefusal(); !why.empty()) {
                LogWarning("The folder %s was not opened: %s.", m_target.c_str(), why.c_str());
                ShowMessageBox(kMbInformation, "The folder " + m_target + " was not opened: " + why + ".");
            }
        }
        Refresh();
        return;
    }
    if (UrlOpener()(m_target, {})) {
        m_visited = true;
    } else {
        m_visited = false;
        wxBell();
        LogWarning("Unable to open hyperlink: %s", m_target.c_str());
        if (const std::string why = platform::DesktopUserRefusal(); !why.empty())
            ShowMessageBox(kMbInformation, "The link " + m_target + " was not opened: " + why + ".");
        else
            // The desktop gives no result code; the error reads as "file not found".
            ShowMessageBox(kMbInformation, HyperlinkErrorText(2));
    }
    Refresh();
}
