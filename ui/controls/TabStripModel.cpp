#include "ui/controls/TabStripModel.h"

int CTabStripModel::TotalWidth() const {
    int w = 0;
    for (const auto& t : m_tabs)
        w += t->rect.Width();
    return m_tabs.empty() ? 0 : w - 1;
}

bool CTabStripModel::AddTab(const std::string& text, int textWidth, int page) {
    if (page < 0 || page >= m_pageCount)
        return false;
    const bool haveTabs = !m_tabs.empty();
    const int total = TotalWidth();
    if (haveTabs && total >= m_clientWidth)
        return false;
    const int width = textWidth + (haveTabs ? 50 : 40);
    if (haveTabs && total + width > m_clientWidth)
        return false;
    auto tab = std::make_shared<TabItem>();
    tab->rect = uigeo::Rect{0, 0, width, 21};
    tab->text = text;
    tab->page = page;
    tab->closable = haveTabs ? 1 : 0;
    m_tabs.push_back(std::move(tab));
    Layout();
    return true;
}

void CTabStripModel::Layout() {
    int sum = 0;
    for (auto& t : m_tabs) {
        const int w = t->rect.Width(), h = t->rect.Height();
        const int left = sum == 0 ? 0 : sum - 1;
        t->rect = uigeo::Rect{left, 0, left + w, h};
        sum += w;
        // The last 20 pixels, shrunk by 6 on every side and moved 6 to the left.
        t->closeBox = uigeo::Rect{t->rect.right - 20 + 6 - 6, t->rect.top + 6, t->rect.right - 6 - 6,
                                  t->rect.bottom - 6};
    }
}

bool CTabStripModel::DeleteTab(int index) {
    if (index < 0 || index >= TabCount())
        return false;
    SetCurSel(0);
    m_tabs.erase(m_tabs.begin() + index);
    Layout();
    return true;
}

bool CTabStripModel::SetCurSel(int index) {
    if (index < 0 || index >= TabCount())
        return false;
    for (auto& t : m_tabs)
        t->selected = 0;
    m_tabs[static_cast<std::size_t>(index)]->selected = 1;
    return true;
}

int CTabStripModel::GetCurSel() const {
    for (std::size_t i = 0; i < m_tabs.size(); ++i)
        if (m_tabs[i]->selected)
            return static_cast<int>(i);
    return -1;
}

int CTabStripModel::GetCurPage() const {
    const int sel = GetCurSel();
    return sel < 0 ? -1 : m_tabs[static_cast<std::size_t>(sel)]->page;
}

CTabStripModel::DownResult CTabStripModel::LeftDown(uigeo::Point p) {
    DownResult r;
    for (std::size_t i = 0; i < m_tabs.size(); ++i) {
        TabItem& t = *m_tabs[i];
        if (t.closable && t.closeBox.Contains(p)) {
            t.closePressed = 1;
            m_captured = true;
            r.pressedClose = static_cast<int>(i);
            return r;
        }
        if (t.rect.Contains(p) && !t.selected) {
            SetCurSel(static_cast<int>(i));
            r.selectionChanged = true;
            return r;
        }
    }
    return r;
}

int CTabStripModel::LeftUp(uigeo::Point p) {
    if (!m_captured)
        return -1;
    m_captured = false;
    for (std::size_t i = 0; i < m_tabs.size(); ++i) {
        TabItem& t = *m_tabs[i];
        if (t.closable && t.closeBox.Contains(p)) {
            DeleteTab(static_cast<int>(i));
            return static_cast<int>(i);
        }
        t.closePressed = 0;
    }
    return -1;
}
