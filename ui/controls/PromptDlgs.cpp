#include "ui/controls/PromptDlgs.h"

#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <wx/artprov.h>
#include <wx/dcclient.h>

#include <algorithm>
#include <cstdio>

using namespace uires;

namespace {

// A folder of a list as its link shows it: whole up to 40 characters, else ". . ." and its
// last 40, so that folders under one long path keep their own names in sight.
std::string ShortenFromStart(const std::string& path) {
    constexpr std::size_t kShown = 40;
    std::size_t points = 0;
    std::size_t at = path.size();
    while (at > 0 && points < kShown) {
        --at;
        if ((static_cast<unsigned char>(path[at]) & 0xC0) != 0x80)
            ++points;
    }
    return at == 0 ? path : ". . ." + path.substr(at);
}

} // namespace

CHasCheckboxPromptDlg::CHasCheckboxPromptDlg(const std::string& message)
    : CSearchSuperDlg(kDlgCheckboxPrompt, nullptr), m_message(message) {
    SetBackgroundColourOfSkin(wxColour(241, 241, 241));
}

void CHasCheckboxPromptDlg::OnInitDialog() {
    const wxSize c = GetClientSize();
    ApplyShape();
    EnableSkin(91, wxRect(3, 2, c.x - 3, 28));
    m_close = new CButtonPlus(kBmpCloseNormal, kBmpCloseHover, kBmpClosePressed, kBmpCloseDisabled);
    m_close->Create(this, MapControlId(kIdCancel), wxPoint(c.x - 25, 7));
    new wxStaticBitmap(this, kIdPromptIcon, wxArtProvider::GetBitmap(wxART_INFORMATION, wxART_MESSAGE_BOX),
                       wxPoint(20, 50));
    auto* text = new wxStaticText(this, kIdPromptText, ui::FromUtf8(m_message), wxPoint(70, 50),
                                  wxSize(c.x - 90, 60), wxST_NO_AUTORESIZE);
    text->Wrap(c.x - 90);
    m_check = new wxCheckBox(this, kIdDontShowAgain, ui::FromUtf8(uistr::UiString(uistr::kDontShowAgain)),
                             wxPoint(20, 118));
    m_ok = new CSmallButtonTextCenterButtonPlus();
    m_ok->Create(this, MapControlId(kIdOk));
    m_ok->MoveTo((c.x - m_ok->GetButtonSize().x) / 2, c.y - m_ok->GetButtonSize().y - 10);
    Bind(wxEVT_BUTTON, &CHasCheckboxPromptDlg::OnButton, this);
    Centre();
}

void CHasCheckboxPromptDlg::OnButton(wxCommandEvent& e) {
    if (e.GetId() == MapControlId(kIdOk)) {
        dontShowAgain = m_check->GetValue() ? 1 : 0;
        EndDialog(kResultOk);
    } else if (e.GetId() == MapControlId(kIdCancel)) {
        EndDialog(kResultCancel);
    } else {
        e.Skip();
    }
}

std::string RecoveryOutcomeText(std::uint64_t recovered, std::uint64_t requested) {
    if (recovered == 0)
        return uistr::UiString(uistr::kFilesFailedToRecover);
    if (recovered == requested)
        return uistr::UiString(uistr::kAllFilesRecovered);
    return uistr::UiString(uistr::kSomeFilesRecovered);
}

std::string RecoverySummaryText(std::uint64_t recovered, std::uint64_t requested) {
    return uistr::UiString(uistr::kFilesNeedToRecover) + std::to_string(requested) +
           uistr::UiString(uistr::kTotalRecoveredFiles) + std::to_string(recovered) +
           uistr::UiString(uistr::kSentenceEnd);
}

std::string CommonParentFolder(const std::vector<std::string>& paths) {
    if (paths.empty())
        return std::string();
    // Compared a folder name at a time, so "/out/ab" and "/out/ac" share "/out/", not "/out/a".
    auto parts = [](const std::string& path) {
        std::vector<std::string> out;
        std::string::size_type start = 0;
        while (start <= path.size()) {
            const std::string::size_type slash = path.find('/', start);
            out.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        return out;
    };
    std::vector<std::string> common = parts(paths.front());
    for (const std::string& path : paths) {
        const std::vector<std::string> p = parts(path);
        std::size_t n = 0;
        while (n < common.size() && n < p.size() && common[n] == p[n])
            ++n;
        common.resize(n);
    }
    // A folder common to all, not one of the paths' last names (a path may be that folder).
    if (!common.empty() && common.size() == parts(paths.front()).size() && paths.size() > 1)
        common.pop_back();
    std::string out;
    for (const std::string& name : common)
        out += name + "/";
    return out;
}

CFileSaveDlg::CFileSaveDlg() = default;

bool CFileSaveDlg::Create(wxWindow* parent, const wxPoint& pos, const wxSize& size) {
    if (!wxPanel::Create(parent, wxID_ANY, pos, size, wxBORDER_NONE))
        return false;
    SetBackgroundColour(wxColour(196, 199, 204));
    m_outcome = new wxStaticText(this, kIdOutcomeText, wxString(), wxPoint(10, 10), wxSize(size.x - 20, 20),
                                 wxST_NO_AUTORESIZE);
    m_outcome->SetFont(ui::PixelFont(14, 700));
    m_summary = new wxStaticText(this, kIdSummaryLine, wxString(), wxPoint(10, 40), wxSize(size.x - 20, 20),
                                 wxST_NO_AUTORESIZE);
    m_note = new wxStaticText(this, wxID_ANY, wxString(), wxPoint(10, 60), wxSize(size.x - 20, 20), wxST_NO_AUTORESIZE);
    m_note->Hide();
    m_savedIn = new wxStaticText(this, wxID_ANY, ui::FromUtf8(uistr::UiString(uistr::kFilesAreSavedIn)), wxPoint(10, 70));
    LinkAt(0)->Hide();
    ArrangeContent();
    return true;
}

CHyperLink* CFileSaveDlg::LinkAt(std::size_t index) {
    while (m_links.size() <= index) {
        auto* link = new CHyperLink(CHyperLink::kFolderMode);
        link->SetURL(" ");
        link->Create(this, m_links.empty() ? static_cast<int>(kIdFolderLink) : static_cast<int>(wxID_ANY), " ", wxPoint(10, 92));
        link->SetUnderline(1);
        link->Hide();
        m_links.push_back(link);
    }
    return m_links[index];
}

void CFileSaveDlg::ShowLink(CHyperLink* link, const std::string& target, const wxString& text,
                            const std::vector<std::string>& select) {
    link->SetPathList(select);
    link->SetLinkText(text);
    link->SetURL(target);
    link->Show();
}

void CFileSaveDlg::ShowRecoveryResult(std::uint64_t recovered, std::uint64_t requested) {
    m_outcomeText = ui::FromUtf8(RecoveryOutcomeText(recovered, requested));
    m_summaryText = ui::FromUtf8(RecoverySummaryText(recovered, requested));
    ArrangeContent();
}

void CFileSaveDlg::SetNote(const std::string& note) {
    m_noteText = ui::FromUtf8(note);
    m_note->Show(!note.empty());
    ArrangeContent();
}

void CFileSaveDlg::SetOutputFolder(const std::string& path) {
    for (CHyperLink* link : m_links)
        link->Hide();
    ShowLink(LinkAt(0), path, ui::FromUtf8(uifmt::ShortenForLink(uifmt::DisplayName(path))), filePaths);
    m_shownLinks = 1;
    ArrangeContent();
}

void CFileSaveDlg::SetOutputFolders(const std::vector<std::string>& folders, const std::string& fallback) {
    if (folders.size() <= 1) {
        SetOutputFolder(folders.empty() ? fallback : folders.front());
        return;
    }
    for (CHyperLink* link : m_links)
        link->Hide();
    if (folders.size() > kMaxListedFolders) {
        const std::string parent = CommonParentFolder(folders);
        const std::string shown = parent.empty() ? fallback : parent;
        char count[64];
        std::snprintf(count, sizeof count, uistr::LoadUiString(uistr::kFoldersUnder), static_cast<int>(folders.size()));
        ShowLink(LinkAt(0), shown, ui::FromUtf8(std::string(count) + " " + uifmt::ShortenForLink(uifmt::DisplayName(shown))),
                 folders);
        m_shownLinks = 1;
    } else {
        for (std::size_t i = 0; i < folders.size(); ++i)
            ShowLink(LinkAt(i), folders[i], ui::FromUtf8(ShortenFromStart(uifmt::DisplayName(folders[i]))), {});
        m_shownLinks = folders.size();
    }
    ArrangeContent();
}

int CFileSaveDlg::ArrangeContent() {
    const int width = std::max(40, GetClientSize().x - 20);
    int y = 10;
    // A text wrapped at the panel's width, as tall as its lines.
    auto place = [&](wxStaticText* text, const wxString& label, int gapAfter) {
        wxClientDC dc(text);
        dc.SetFont(text->GetFont());
        const wxString wrapped = label.empty() ? wxString() : ui::WrapText(dc, label, width);
        const int height = wrapped.empty() ? dc.GetCharHeight() : dc.GetMultiLineTextExtent(wrapped).y;
        text->SetLabel(wrapped);
        text->SetSize(10, y, width, height);
        y += height + gapAfter;
    };
    place(m_outcome, m_outcomeText, 10);
    place(m_summary, m_summaryText, 8);
    if (m_note->IsShown())
        place(m_note, m_noteText, 8);
    m_savedIn->SetPosition(wxPoint(10, y));
    y += m_savedIn->GetBestSize().y + 4;
    for (std::size_t i = 0; i < m_shownLinks && i < m_links.size(); ++i) {
        m_links[i]->SetPosition(wxPoint(10, y));
        y += m_links[i]->GetBestSize().y + 2;
    }
    return y + 8;
}
