#pragma once
// The found-file list: a virtual report view over the model's rows and a thumbnail view drawn
// by the program (80 x 80 cells, the check box under each picture), with the thumbnail worker
// behind it. Check changes and commands go to the owner as wx events.
#include <map>
#include <memory>

#include <wx/listctrl.h>
#include <wx/menu.h>
#include <wx/scrolwin.h>
#include <wx/wx.h>

#include "ui/controls/ScrollWnd.h"
#include "ui/views/FileListModel.h"
#include "ui/views/FileTypeSource.h"
#include "ui/views/wx/FileTypeIcons.h"

class IStorageDevice;
class CThumbnailWorker;
class CFileListCtrl;

// Sent to the owner when check states changed.
wxDECLARE_EVENT(EVT_FILELIST_CHECKS_CHANGED, wxCommandEvent);

enum FileListCommand : int {
    ID_FILELIST_PROPERTIES = 5001,
    ID_FILELIST_PREVIEW = 5002,
    ID_FILELIST_RECOVER = 5003,
    ID_FILELIST_LOCATE = 5004,
    ID_FILELIST_OPEN = 1207,
    ID_FILELIST_SHOW_LIST = 1010,
    ID_FILELIST_SHOW_THUMBNAILS = 1011,
};

class CListCtrlPlus : public wxListCtrl {
public:
    CListCtrlPlus(CFileListCtrl* owner, wxWindow* parent);
    wxString OnGetItemText(long item, long column) const override;
    int OnGetItemColumnImage(long item, long column) const override;
    wxItemAttr* OnGetItemAttr(long item) const override;
    // A column's width in the list's font: never below its designed width, wide enough for
    // its title and its widest cell text.
    int ColumnWidthFor(int column) const;

private:
    CFileListCtrl* m_owner;
    mutable wxItemAttr m_attr;
};

class CThumbnailView : public wxScrolledWindow {
public:
    static constexpr int kCell = 80;
    static constexpr int kItemWidth = 100;
    static constexpr int kItemHeight = 120;

    CThumbnailView(CFileListCtrl* owner, wxWindow* parent);
    // The item under a client point, or -1; *checkBox tells whether it hit the check box.
    long HitTest(wxPoint client, bool* checkBox) const;
    wxRect ItemRect(long item) const; // in client coordinates
    void SetFocusedItem(long item) { m_focused = item; }
    long GetFocusedItem() const { return m_focused; }
    void UpdateVirtualSize();
    // An item's height: at least kItemHeight, more when the font's label line needs it.
    int ItemHeight() const;
    // An item's width: at least kItemWidth, more when the font's names need it.
    int ItemWidth() const;
    int LabelHeight() const;

private:
    void OnPaint(wxPaintEvent&);
    void OnLeftDown(wxMouseEvent&);
    void OnLeftDClick(wxMouseEvent&);
    void OnRightUp(wxMouseEvent&);
    void OnSize(wxSizeEvent&);
    int Columns() const;
    CFileListCtrl* m_owner;
    long m_focused = -1;
};

class CFileListCtrl : public wxPanel {
public:
    // Type names and icons come from `types` (not owned), by default from the type service.
    CFileListCtrl(wxWindow* parent, IFileTypeSource* types = nullptr);
    ~CFileListCtrl() override;

    // The device thumbnails are read from (a serialising wrapper when other threads read it
    // too); not owned.
    void SetDevice(IStorageDevice* device);
    void SetFolder(CFileNode* folder, CFileSystemNode* root);
    void SetFileItems(CFileSystemNode* root, const std::vector<CFileNode*>& nodes);
    void ClearFiles();
    void CheckAll(bool select);
    void ToggleCheck(long index);
    bool LocateFile(CFileNode* node);
    long GetSelectedIndex() const;
    CFileNode* GetFileAt(long index) const;
    void SortByColumn(int column);
    void ShowListView();
    void ShowThumbnailView();
    bool IsThumbnailView() const { return m_view == 2; }
    // While a worker changes check states, no repaint reads them.
    void FreezeViews(bool freeze);
    void RefreshViews();
    // Sent by the thumbnail view for its visible range.
    void RequestThumbnails(long first, long last);
    // Offers "Locate in the main list" in the context menu (search results).
    void SetOffersLocate(bool offers) { m_offersLocate = offers; }
    // The popup of a row; returns the menu shown (for tests, the items of it).
    CXPMenu MakeContextMenu() const;
    void ShowContextMenu(wxWindow* from, wxPoint client);

    CFileListModel& Model() { return m_model; }
    const CFileListModel& Model() const { return m_model; }
    CThumbnailQueue& Thumbnails() { return m_thumbnails; }
    CListCtrlPlus* ReportView() const { return m_report; }
    CThumbnailView* ThumbnailView() const { return m_thumbView; }
    IFileTypeSource* Types() const { return m_types; }
    // The report view's picture of a row: its check state beside its type's icon. Pictures come
    // in threes per icon (unchecked, checked, partly checked), so index % 3 is the check state.
    int RowImage(const CFileNode* node);
    // Bitmap of a cached thumbnail (made on the UI thread from the worker's pixels).
    wxBitmap ThumbnailBitmap(const CFileNode* node);

private:
    void OnColumnClick(wxListEvent&);
    void OnReportLeftDown(wxMouseEvent&);
    void OnReportRightClick(wxListEvent&);
    void OnReportActivated(wxListEvent&);
    void OnThumbnailLoaded(wxThreadEvent&);
    void NotifyChecks();
    void UpdateSortArrow();

    CFileListModel m_model;
    CThumbnailQueue m_thumbnails;
    std::unique_ptr<CThumbnailWorker> m_worker;
    std::map<const CFileNode*, wxBitmap> m_bitmaps;
    std::unique_ptr<wxImageList> m_images;
    CListCtrlPlus* m_report = nullptr;
    CThumbnailView* m_thumbView = nullptr;
    IFileTypeSource* m_types = nullptr;
    CFileTypeServiceSource m_serviceTypes;
    std::map<std::string, int> m_imageSlots;
    IStorageDevice* m_device = nullptr;
    int m_view = 1;
    bool m_offersLocate = false;
    int m_frozen = 0;
};
