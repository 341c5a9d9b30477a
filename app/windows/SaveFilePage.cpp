#include "app/windows/SaveFilePage.h"

#include "ui/controls/EditPlus.h"
#include "ui/controls/PieCtrl.h"
#include "ui/controls/ShellTreeCtrl.h"
#include "ui/controls/StringTable.h"
#include "ui/controls/UiCommon.h"

namespace {
const wxColour kBand(196, 199, 204);
const wxColour kFrame(114, 145, 177);
} // namespace

CSaveFilePage::CSaveFilePage(wxWindow* parent, CSaveFileController& controller)
    : CWizardPage(parent, kPageSaveFile), m_controller(controller) {
    m_edit = new CEditPlus(this, kIdTarget, "", wxPoint(118, 70), wxSize(400, 22));
    m_tree = new CShellTreeCtrl;
    m_tree->Create(this, kIdShellTree, wxPoint(118, 110), wxSize(300, 200));
    m_tree->SetCallback(&CSaveFilePage::OnFolderPicked, this);
    m_pie = new CPieCtrl;
    m_pie->Create(this, kIdPie, wxPoint(500, 160), wxSize(240, 200));
    m_pie->SetBackground(kBand);
    m_edit->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
        if (m_updating)
            return;
        m_updating = true;
        m_controller.Page().SetTargetFolder(ui::ToUtf8(m_edit->GetValue()));
        m_updating = false;
    });
    m_controller.Page().onChanged = [this] { ShowModel(); };
    m_tree->RefreshTree();
    m_tree->ExpandComputerNode();
    ShowModel();
}

CSaveFilePage::~CSaveFilePage() { m_controller.Page().onChanged = nullptr; }

void CSaveFilePage::OnFolderPicked(void* self, const char* path) {
    auto* page = static_cast<CSaveFilePage*>(self);
    page->m_edit->SetValue(ui::FromUtf8(path ? path : ""));
}

void CSaveFilePage::ShowModel() {
    const CSaveFilePageModel& model = m_controller.Page();
    if (!m_updating) {
        m_updating = true;
        const wxString text = ui::FromUtf8(model.GetTargetFolder());
        if (m_edit->GetValue() != text) {
            m_edit->ChangeValue(text);
            if (text.empty()) {  // a new selection to save: the tree starts again
                m_tree->RefreshTree();
                m_tree->ExpandComputerNode();
            }
        }
        m_updating = false;
    }
    const TargetSpace& space = model.Space();
    m_pie->SetAmounts(space.freeForCaller, model.SelectedBytes(), space.total > space.totalFree ? space.total - space.totalFree : 0);
    Refresh();
}

void CSaveFilePage::LayoutPage(int cx, int cy) {
    m_edit->SetSize(118, 70, std::max(40, cx - 238), 22);
    m_tree->SetSize(118, 110, std::max(40, cx / 2 - 118), std::max(40, cy - 128));
    m_pie->SetSize(cx / 2 + 40, 130, std::max(180, cx - 108 - (cx / 2 + 40)), std::max(130, cy - 40 - 130));
}

void CSaveFilePage::Paint(wxDC& dc) {
    const wxSize s = GetClientSize();
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(kBand));
    dc.DrawRoundedRectangle(43, 40, s.x - 86, s.y - 40, 10);
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.SetPen(wxPen(kFrame));
    dc.DrawRectangle(117, 109, s.x / 2 + 1 - 117 + 1, s.y - 17 - 109 + 1);
    dc.DrawRectangle(117, 69, s.x - 119 - 117 + 1, 93 - 69 + 1);
    dc.SetFont(ui::PixelFont(15, 400, "Arial"));
    dc.SetTextForeground(wxColour(40, 44, 52));
    ui::DrawTextIn(dc, ui::FromUtf8(uistr::UiString(uistr::kSelectSavePathHeading)), wxRect(80, 45, 420, 25),
                   ui::kTextSingleLine | ui::kTextVCenter);
    ui::DrawTextIn(dc, ui::FromUtf8(uistr::UiString(uistr::kPathCaption)), wxRect(70, 70, 45, 20),
                   ui::kTextSingleLine | ui::kTextVCenter);
    ui::DrawTextIn(dc, ui::FromUtf8(m_controller.Page().SummaryText()), wxRect(80, 20, 420, 20),
                   ui::kTextSingleLine | ui::kTextVCenter);
}
