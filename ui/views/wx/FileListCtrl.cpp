#include "ui/views/wx/FileListCtrl.h"

#include <wx/dcbuffer.h>
#include <wx/dcgraph.h>
#include <wx/renderer.h>

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "ui/views/wx/FileTypeIcons.h"
#include "ui/views/wx/ThumbnailLoader.h"

wxDEFINE_EVENT(EVT_FILELIST_CHECKS_CHANGED, wxCommandEvent);

namespace {

wxDEFINE_EVENT(EVT_THUMBNAIL_LOADED, wxThreadEvent);

const char* const kColumns[] = {"File Name", "File Size", "File Type", "Modification Time",
                                "Creation Time", "Last Access Time"};
const int kColumnWidths[] = {180, 100, 90, 140, 140, 140};

// The picture left of a name: the check box (0 unchecked, 1 checked, 2 partly checked) and,
// two pixels to its right, the file type's icon.
constexpr int kCheckWidth = 16;
constexpr int kRowImageWidth = kCheckWidth + 2 + 16;

wxBitmap RowPicture(wxWindow* w, int state, const wxBitmap& icon) {
    wxImage image(kRowImageWidth, 16);
    image.InitAlpha();
    std::fill(image.GetAlpha(), image.GetAlpha() + kRowImageWidth * 16, 0);
    wxBitmap bmp(image);
    {
        wxMemoryDC dc(bmp);
        wxGCDC gdc(dc);
        int flags = 0;
        if (state == 1)
            flags = wxCONTROL_CHECKED;
        else if (state == 2)
            flags = wxCONTROL_UNDETERMINED;
        wxRendererNative::Get().DrawCheckBox(w, gdc, wxRect(1, 1, 14, 14), flags);
        if (icon.IsOk())
            gdc.DrawBitmap(icon, kCheckWidth + 2, (16 - icon.GetHeight()) / 2, true);
    }
    return bmp;
}

int CheckImage(const CFileNode* node) {
    const std::uint8_t s = node && node->m_pProperties ? node->m_pProperties->GetCheckState() : 0;
    return s == CHECKSTATE_CHECKED ? 1 : s == CHECKSTATE_PARTIAL ? 2 : 0;
}

} // namespace

CListCtrlPlus::CListCtrlPlus(CFileListCtrl* owner, wxWindow* parent)
    : wxListCtrl(parent, 1314, wxDefaultPosition, wxDefaultSize,
                 wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL),
      m_owner(owner) {
    for (int c = 0; c < 6; ++c)
        AppendColumn(kColumns[c], wxLIST_FORMAT_LEFT, ColumnWidthFor(c));
}

int CListCtrlPlus::ColumnWidthFor(int column) const {
    // The designed width, grown to what the font needs: the title with room for the sort arrow,
    // and the widest text the column shows (a size, a date and time).
    if (column < 0 || column >= 6)
        return 0;
    wxClientDC dc(const_cast<CListCtrlPlus*>(this));
    dc.SetFont(GetFont());
    int need = dc.GetTextExtent(kColumns[column]).x + 36;
    static const char* const kWidest[] = {"", "1023.99 MB", "", "2024-12-28 23:59:59", "2024-12-28 23:59:59",
                                          "2024-12-28 23:59:59"};
    if (*kWidest[column])
        need = std::max(need, dc.GetTextExtent(kWidest[column]).x + 16);
    return std::max(kColumnWidths[column], need);
}

wxString CListCtrlPlus::OnGetItemText(long item, long column) const {
    const CFileNode* node = m_owner->Model().GetFileAt(static_cast<std::size_t>(item));
    if (column == FILECOL_TYPE) {
        // The type service's name of the extension ("PNG image"), gated like the extension.
        const std::string name = FileListCellText(node, FILECOL_NAME);
        return name.empty() ? wxString() : wxString::FromUTF8(m_owner->Types()->TypeName(name));
    }
    return wxString::FromUTF8(FileListCellText(node, static_cast<int>(column)));
}

int CListCtrlPlus::OnGetItemColumnImage(long item, long column) const {
    if (column != 0)
        return -1;
    return m_owner->RowImage(m_owner->Model().GetFileAt(static_cast<std::size_t>(item)));
}

wxItemAttr* CListCtrlPlus::OnGetItemAttr(long item) const {
    const CFileNode* node = m_owner->Model().GetFileAt(static_cast<std::size_t>(item));
    if (!node || !node->m_pProperties ||
        !(node->m_pProperties->GetValidFields() & VALIDFIELD_ATTRIBUTES))
        return nullptr;
    const std::uint16_t a = node->m_pProperties->GetAttributes();
    if (a & FILEATTR_COMPRESSED)
        m_attr.SetTextColour(wxColour(0, 0, 255));
    else if (a & FILEATTR_ENCRYPTED)
        m_attr.SetTextColour(wxColour(0, 160, 0));
    else
        return nullptr;
    return &m_attr;
}

CThumbnailView::CThumbnailView(CFileListCtrl* owner, wxWindow* parent)
    : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxVSCROLL | wxWANTS_CHARS),
      m_owner(owner) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    SetScrollRate(0, 20);
    Bind(wxEVT_PAINT, &CThumbnailView::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CThumbnailView::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CThumbnailView::OnLeftDClick, this);
    Bind(wxEVT_RIGHT_UP, &CThumbnailView::OnRightUp, this);
    Bind(wxEVT_SIZE, &CThumbnailView::OnSize, this);
}

int CThumbnailView::Columns() const { return std::max(1, GetClientSize().x / ItemWidth()); }

int CThumbnailView::ItemWidth() const {
    // Room for about eleven characters of the name beside the check box, in the view's font.
    return std::max(kItemWidth, 22 + 11 * GetCharWidth());
}

int CThumbnailView::ItemHeight() const {
    // The picture cell, then the label line: the check box and the name beside it, as high as
    // the font needs.
    return std::max(kItemHeight, 4 + kCell + 12 + LabelHeight() + 4);
}

int CThumbnailView::LabelHeight() const { return std::max(16, GetCharHeight() + 2); }

void CThumbnailView::UpdateVirtualSize() {
    const long count = static_cast<long>(m_owner->Model().GetCount());
    const int cols = Columns();
    const long rows = (count + cols - 1) / cols;
    SetVirtualSize(GetClientSize().x, static_cast<int>(rows * ItemHeight()));
    Refresh();
}

wxRect CThumbnailView::ItemRect(long item) const {
    const int cols = Columns();
    int vx = 0, vy = 0;
    GetViewStart(&vx, &vy);
    int ux = 0, uy = 0;
    GetScrollPixelsPerUnit(&ux, &uy);
    return wxRect(static_cast<int>(item % cols) * ItemWidth(),
                  static_cast<int>(item / cols) * ItemHeight() - vy * uy, ItemWidth(), ItemHeight());
}

long CThumbnailView::HitTest(wxPoint p, bool* checkBox) const {
    *checkBox = false;
    const long count = static_cast<long>(m_owner->Model().GetCount());
    const int cols = Columns();
    int vx = 0, vy = 0, ux = 0, uy = 0;
    GetViewStart(&vx, &vy);
    GetScrollPixelsPerUnit(&ux, &uy);
    const int y = p.y + vy * uy;
    if (p.x < 0 || y < 0 || p.x >= cols * ItemWidth())
        return -1;
    const long item = static_cast<long>(y / ItemHeight()) * cols + p.x / ItemWidth();
    if (item >= count)
        return -1;
    const wxRect r = ItemRect(item);
    // The check box's hit area: [left + 5, left + 15) x [bottom - 16, bottom - 6).
    *checkBox = p.x >= r.x + 5 && p.x < r.x + 15 && p.y >= r.GetBottom() + 1 - 16 &&
                p.y < r.GetBottom() + 1 - 6;
    return item;
}

void CThumbnailView::OnPaint(wxPaintEvent&) {
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(*wxWHITE_BRUSH);
    dc.Clear();
    const long count = static_cast<long>(m_owner->Model().GetCount());
    const wxSize client = GetClientSize();
    long first = -1, last = -1;
    dc.SetFont(GetFont());
    for (long i = 0; i < count; ++i) {
        const wxRect r = ItemRect(i);
        if (r.GetBottom() < 0)
            continue;
        if (r.y > client.y)
            break;
        if (first < 0)
            first = i;
        last = i;
        const CFileNode* node = m_owner->Model().GetFileAt(static_cast<std::size_t>(i));
        const IFileProperties* p = node ? node->m_pProperties.get() : nullptr;
        const wxRect cell(r.x + (ItemWidth() - kCell) / 2, r.y + 4, kCell, kCell);
        dc.SetPen(wxPen(wxColour(220, 220, 220)));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(cell);
        wxBitmap bmp = m_owner->ThumbnailBitmap(node);
        if (bmp.IsOk()) {
            dc.DrawBitmap(bmp, cell.x + (kCell - bmp.GetWidth()) / 2,
                          cell.y + (kCell - bmp.GetHeight()) / 2, true);
        } else {
            // The fallback: the type's icon at 42 x 42, centred.
            const bool folder = p && (p->GetValidFields() & VALIDFIELD_ATTRIBUTES) && (p->GetAttributes() & 0x10);
            const std::string name = FileListCellText(node, FILECOL_NAME);
            const wxBitmap icon = IconByName(m_owner->Types()->IconName(name, folder), 42);
            if (icon.IsOk())
                dc.DrawBitmap(icon, cell.x + (kCell - icon.GetWidth()) / 2, cell.y + (kCell - icon.GetHeight()) / 2,
                              true);
        }
        wxColour text = *wxBLACK;
        if (p && (p->GetValidFields() & VALIDFIELD_ATTRIBUTES)) {
            if (p->GetAttributes() & FILEATTR_COMPRESSED)
                text = wxColour(0, 0, 255);
            else if (p->GetAttributes() & FILEATTR_ENCRYPTED)
                text = wxColour(0, 200, 0);
        }
        if (p && (p->GetValidFields() & VALIDFIELD_STATE) && (p->GetFileState() & FILESTATE_DELETED)) {
            dc.SetPen(wxPen(wxColour(200, 0, 0), 2));
            dc.DrawLine(r.GetRight() - 15, r.y + 5, r.GetRight() - 5, r.y + 15);
            dc.DrawLine(r.GetRight() - 5, r.y + 5, r.GetRight() - 15, r.y + 15);
        }
        dc.SetTextForeground(text);
        const wxString name = p ? wxString::FromUTF8(p->GetName()) : wxString();
        const wxString shown = wxControl::Ellipsize(name, dc, wxELLIPSIZE_END, ItemWidth() - 22);
        // The name on the check box's line, centred on the box (whose top is 16 pixels above
        // the bottom), never below the item.
        const int th = dc.GetTextExtent(shown).y;
        const int ty = std::min(r.GetBottom() + 1 - 16 + (13 - th) / 2, r.GetBottom() + 1 - th);
        dc.DrawText(shown, r.x + 18, ty);
        wxRendererNative::Get().DrawCheckBox(
            this, dc, wxRect(r.x + 5, r.GetBottom() + 1 - 16, 13, 13),
            CheckImage(node) == 1 ? int{wxCONTROL_CHECKED} : 0);
        if (i == m_focused) {
            dc.SetPen(wxPen(wxColour(0xA8, 0x5E, 0x33), 2));
            dc.SetBrush(*wxTRANSPARENT_BRUSH);
            dc.DrawRectangle(wxRect(r).Deflate(2));
        }
    }
    if (first >= 0)
        m_owner->RequestThumbnails(first, last);
    if (count == 0) {
        dc.SetTextForeground(wxColour(120, 120, 120));
        dc.DrawText("No files in this folder.", 10, 10);
    }
}

void CThumbnailView::OnLeftDown(wxMouseEvent& e) {
    SetFocus();
    bool box = false;
    const long item = HitTest(e.GetPosition(), &box);
    if (item < 0)
        return;
    m_focused = item;
    if (box)
        m_owner->ToggleCheck(item);
    Refresh();
}

void CThumbnailView::OnLeftDClick(wxMouseEvent& e) {
    bool box = false;
    const long item = HitTest(e.GetPosition(), &box);
    if (item < 0)
        return;
    if (box) {
        m_owner->ToggleCheck(item);
        return;
    }
    wxCommandEvent open(wxEVT_MENU, ID_FILELIST_OPEN);
    open.SetEventObject(m_owner);
    m_owner->ProcessWindowEvent(open);
}

void CThumbnailView::OnRightUp(wxMouseEvent& e) {
    bool box = false;
    const long item = HitTest(e.GetPosition(), &box);
    if (item < 0)
        return;
    m_focused = item;
    Refresh();
    m_owner->ShowContextMenu(this, e.GetPosition());
}

void CThumbnailView::OnSize(wxSizeEvent& e) {
    UpdateVirtualSize();
    e.Skip();
}

CFileListCtrl::CFileListCtrl(wxWindow* parent, IFileTypeSource* types)
    : wxPanel(parent, wxID_ANY), m_types(types ? types : &m_serviceTypes) {
    m_report = new CListCtrlPlus(this, this);
    m_thumbView = new CThumbnailView(this, this);
    m_thumbView->Hide();
    m_images = std::make_unique<wxImageList>(kRowImageWidth, 16, false);
    RowImage(nullptr); // the plain file's three pictures come first
    m_report->SetImageList(m_images.get(), wxIMAGE_LIST_SMALL);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_report, 1, wxEXPAND);
    sizer->Add(m_thumbView, 1, wxEXPAND);
    SetSizer(sizer);
    m_report->Bind(wxEVT_LIST_COL_CLICK, &CFileListCtrl::OnColumnClick, this);
    m_report->Bind(wxEVT_LEFT_DOWN, &CFileListCtrl::OnReportLeftDown, this);
    m_report->Bind(wxEVT_LIST_ITEM_RIGHT_CLICK, &CFileListCtrl::OnReportRightClick, this);
    m_report->Bind(wxEVT_LIST_ITEM_ACTIVATED, &CFileListCtrl::OnReportActivated, this);
    Bind(EVT_THUMBNAIL_LOADED, &CFileListCtrl::OnThumbnailLoaded, this);
    m_worker = std::make_unique<CThumbnailWorker>(&m_thumbnails, nullptr, [this](CFileNode* node) {
        auto* ev = new wxThreadEvent(EVT_THUMBNAIL_LOADED);
        ev->SetPayload<CFileNode*>(node);
        wxQueueEvent(this, ev);
    });
}

CFileListCtrl::~CFileListCtrl() {
    m_worker.reset(); // stops and joins before the window goes
    m_report->SetImageList(nullptr, wxIMAGE_LIST_SMALL);
}

void CFileListCtrl::SetDevice(IStorageDevice* device) {
    m_device = device;
    m_worker->SetDevice(device);
}

void CFileListCtrl::RefreshViews() {
    if (m_frozen)
        return;
    m_report->SetItemCount(static_cast<long>(m_model.GetCount()));
    m_report->Refresh();
    m_thumbView->UpdateVirtualSize();
}

void CFileListCtrl::FreezeViews(bool freeze) {
    if (freeze) {
        if (m_frozen++ == 0) {
            m_worker->Pause(true);
            m_report->Freeze();
            m_thumbView->Freeze();
        }
    } else if (m_frozen > 0 && --m_frozen == 0) {
        m_report->Thaw();
        m_thumbView->Thaw();
        m_worker->Pause(false);
        RefreshViews();
    }
}

void CFileListCtrl::SetFolder(CFileNode* folder, CFileSystemNode* root) {
    m_thumbnails.Clear(true);
    m_bitmaps.clear();
    if (!m_model.SetFolder(folder, root))
        return;
    RefreshViews();
    if (m_model.GetCount() > 0) {
        m_report->SetItemState(0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                               wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        m_report->EnsureVisible(0);
        m_thumbView->SetFocusedItem(0);
    } else {
        m_thumbView->SetFocusedItem(-1);
    }
    UpdateSortArrow();
}

void CFileListCtrl::SetFileItems(CFileSystemNode* root, const std::vector<CFileNode*>& nodes) {
    m_thumbnails.Clear(true);
    m_bitmaps.clear();
    m_model.SetFileItems(root, nodes);
    RefreshViews();
    if (m_model.GetCount() > 0)
        m_report->SetItemState(0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                               wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
}

void CFileListCtrl::ClearFiles() {
    m_thumbnails.Clear(true);
    m_bitmaps.clear();
    m_model.Clear();
    RefreshViews();
    ShowListView();
}

void CFileListCtrl::NotifyChecks() {
    wxCommandEvent ev(EVT_FILELIST_CHECKS_CHANGED);
    ev.SetEventObject(this);
    ProcessWindowEvent(ev);
}

void CFileListCtrl::CheckAll(bool select) {
    wxBusyCursor wait;
    m_model.CheckAll(select);
    RefreshViews();
    NotifyChecks();
}

void CFileListCtrl::ToggleCheck(long index) {
    if (index < 0 || !m_model.ToggleCheck(static_cast<std::size_t>(index)))
        return;
    NotifyChecks();
    m_report->RefreshItem(index);
    m_thumbView->Refresh();
}

bool CFileListCtrl::LocateFile(CFileNode* node) {
    long index = m_model.IndexOf(node);
    if (index < 0 && node && node->m_pParent) {
        SetFolder(node->m_pParent, m_model.GetRoot());
        index = m_model.IndexOf(node);
    }
    if (index < 0)
        return false;
    m_report->SetItemState(index, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    m_report->EnsureVisible(index);
    m_thumbView->SetFocusedItem(index);
    m_thumbView->Refresh();
    return true;
}

long CFileListCtrl::GetSelectedIndex() const {
    if (m_view == 2)
        return m_thumbView->GetFocusedItem() < static_cast<long>(m_model.GetCount())
                   ? m_thumbView->GetFocusedItem()
                   : -1;
    return m_report->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED);
}

CFileNode* CFileListCtrl::GetFileAt(long index) const {
    return index < 0 ? nullptr : m_model.GetFileAt(static_cast<std::size_t>(index));
}

void CFileListCtrl::UpdateSortArrow() {
    if (m_model.GetSortColumn() < 0 || m_model.GetSortColumn() >= m_report->GetColumnCount())
        m_report->RemoveSortIndicator();
    else
        m_report->ShowSortIndicator(m_model.GetSortColumn(), !m_model.IsSortDescending());
}

void CFileListCtrl::SortByColumn(int column) {
    const long sel = GetSelectedIndex();
    CFileNode* selected = GetFileAt(sel);
    m_model.SortByColumn(column);
    UpdateSortArrow();
    if (selected)
        LocateFile(selected);
    m_report->Refresh();
    m_thumbView->Refresh();
}

void CFileListCtrl::OnColumnClick(wxListEvent& e) { SortByColumn(e.GetColumn()); }

int CFileListCtrl::RowImage(const CFileNode* node) {
    std::string icon;
    if (const std::string name = FileListCellText(node, FILECOL_NAME); !name.empty())
        icon = m_types->IconName(name, false);
    auto it = m_imageSlots.find(icon);
    if (it == m_imageSlots.end()) {
        const int first = m_images->GetImageCount();
        const wxBitmap picture = IconByName(icon, 16);
        for (int state = 0; state < 3; ++state)
            m_images->Add(RowPicture(this, state, picture));
        it = m_imageSlots.emplace(icon, first).first;
    }
    return it->second + (node ? CheckImage(node) : 0);
}

void CFileListCtrl::OnReportLeftDown(wxMouseEvent& e) {
    int flags = 0;
    const long item = m_report->HitTest(e.GetPosition(), flags);
    wxRect icon;
    // Only the check box part of the picture toggles; the type icon beside it does not.
    if (item >= 0 && (flags & wxLIST_HITTEST_ONITEMICON) && m_report->GetItemRect(item, icon, wxLIST_RECT_ICON) &&
        e.GetX() < icon.x + kCheckWidth)
        ToggleCheck(item);
    e.Skip();
}

void CFileListCtrl::OnReportRightClick(wxListEvent& e) {
    m_report->SetItemState(e.GetIndex(), wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                           wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    ShowContextMenu(m_report, m_report->ScreenToClient(wxGetMousePosition()));
}

void CFileListCtrl::OnReportActivated(wxListEvent&) {
    wxCommandEvent open(wxEVT_MENU, ID_FILELIST_OPEN);
    open.SetEventObject(this);
    ProcessWindowEvent(open);
}

CXPMenu CFileListCtrl::MakeContextMenu() const {
    CXPMenu menu;
    menu.Append(ID_FILELIST_PREVIEW, "Preview");
    menu.Append(ID_FILELIST_RECOVER, "Recover");
    if (m_offersLocate)
        menu.Append(ID_FILELIST_LOCATE, "Locate in the main list");
    menu.Append(ID_FILELIST_PROPERTIES, "Properties");
    return menu;
}

void CFileListCtrl::ShowContextMenu(wxWindow* from, wxPoint client) {
    // The choice reaches the list (and its owner) as a menu command.
    MakeContextMenu().Popup(this, from->ClientToScreen(client));
}

void CFileListCtrl::ShowListView() {
    const long sel = m_thumbView->GetFocusedItem();
    m_view = 1;
    m_thumbView->Hide();
    m_report->Show();
    if (sel >= 0 && sel < static_cast<long>(m_model.GetCount()))
        m_report->SetItemState(sel, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                               wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
    Layout();
}

void CFileListCtrl::ShowThumbnailView() {
    m_thumbnails.Clear(false);
    m_thumbView->SetFocusedItem(m_report->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED));
    m_view = 2;
    m_report->Hide();
    m_thumbView->Show();
    Layout();
    m_thumbView->UpdateVirtualSize();
}

void CFileListCtrl::RequestThumbnails(long first, long last) {
    if (m_view != 2 || m_frozen)
        return;
    m_thumbnails.Request(m_model.Rows(), first, last);
}

wxBitmap CFileListCtrl::ThumbnailBitmap(const CFileNode* node) {
    if (!node)
        return wxNullBitmap;
    const auto it = m_bitmaps.find(node);
    if (it != m_bitmaps.end())
        return it->second;
    std::shared_ptr<const ThumbnailPixels> pixels;
    if (!m_thumbnails.Lookup(node, &pixels) || !pixels)
        return wxNullBitmap;
    wxImage image(pixels->width, pixels->height);
    std::copy(pixels->rgb.begin(), pixels->rgb.end(), image.GetData());
    if (!pixels->alpha.empty()) {
        image.InitAlpha();
        std::copy(pixels->alpha.begin(), pixels->alpha.end(), image.GetAlpha());
    }
    wxBitmap bmp(image);
    m_bitmaps[node] = bmp;
    return bmp;
}

void CFileListCtrl::OnThumbnailLoaded(wxThreadEvent&) {
    if (m_view == 2 && !m_frozen)
        m_thumbView->Refresh();
}
