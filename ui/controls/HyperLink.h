#pragma once
// A static text that works as a link: link, visited and hover colours, underline on hover (or
// always), a hand cursor and a tooltip. URL mode opens the target in the desktop's browser;
// folder mode checks that the folder exists and opens it in the desktop's file manager.
#include "ui/controls/UiCommon.h"

#include <wx/timer.h>

#include <functional>
#include <string>
#include <vector>

class CHyperLink : public wxControl {
public:
    enum Mode { kUrlMode = 0, kFolderMode = 1 };
    explicit CHyperLink(int mode = kUrlMode);
    ~CHyperLink() override;
    // Creates the link as a static with `text`; prepares it (an empty target takes the text, an
    // empty text takes the target). `style` may hold wxALIGN_RIGHT / wxALIGN_CENTRE_HORIZONTAL.
    bool Create(wxWindow* parent, wxWindowID id, const wxString& text, const wxPoint& pos,
                const wxSize& size = wxDefaultSize, long style = 0);

    void SetURL(const std::string& target);
    const std::string& GetURL() const { return m_target; }
    void SetLinkText(const wxString& text);
    // -1 underlined only while hovered, 1 always.
    void SetUnderline(int mode);
    int GetUnderline() const { return m_underline; }
    // Files to show selected when the folder opens.
    void SetPathList(const std::vector<std::string>& paths) { m_paths = paths; }
    const std::vector<std::string>& PathList() const { return m_paths; }

    bool IsHovered() const { return m_hover; }
    bool IsVisited() const { return m_visited; }
    wxColour CurrentColour() const;

    // How targets are opened; replaceable (tests). Returns true when the desktop took it.
    using Opener = std::function<bool(const std::string& target, const std::vector<std::string>& select)>;
    static void SetUrlOpener(Opener opener);
    static void SetFolderOpener(Opener opener);

    // The click (also used by tests).
    void FollowLink();

protected:
    wxSize DoGetBestSize() const override;

private:
    void FitToText();
    void OnPaint(wxPaintEvent&);
    void OnMotion(wxMouseEvent&);
    void OnLeave(wxMouseEvent&);
    void OnTimer(wxTimerEvent&);
    void OnClick(wxMouseEvent&);
    void EndHover();

    int m_mode;
    std::vector<std::string> m_paths;
    wxColour m_link{0, 0, 238}, m_visitedColour{85, 26, 139}, m_hoverColour{255, 0, 0};
    bool m_hover = false;
    bool m_visited = false;
    int m_underline = -1;
    std::string m_target;
    wxFont m_normalFont, m_underlinedFont;
    wxTimer m_timer;
    long m_align = 0;
};
