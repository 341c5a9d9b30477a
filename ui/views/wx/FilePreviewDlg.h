#pragma once
// The general preview of a found file (already copied to its temp file): "Text", "Hex" and
// "Image" tabs. Text and hex page through files of up to 100 MiB holding at most 1 MiB; the
// image view shows the decoded picture fitted or at actual size.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <wx/notebook.h>
#include <wx/scrolwin.h>
#include <wx/wx.h>

#include "ui/views/PreviewPaging.h"
#include "ui/views/wx/SkinnedViewDlg.h"

// The picture, fitted or at actual size, on white inside a grey (0x808080) frame; without a
// picture the message in the middle.
class CImageWindow : public wxScrolledWindow {
public:
    explicit CImageWindow(wxWindow* parent);
    // Decodes the file (within the preview pixel cap); false leaves the message shown.
    bool LoadImage(const std::string& path);
    void SetBestFit(bool fit);
    bool IsBestFit() const { return m_bestFit; }
    bool HasPicture() const { return m_bitmap.IsOk(); }
    // Where the picture is drawn in the client area (for tests).
    wxRect PictureRect() const;
    const wxString& Message() const { return m_message; }
    wxSize PictureSize() const { return m_bitmap.IsOk() ? m_bitmap.GetSize() : wxSize(); }

private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    bool m_bestFit = true;
    wxImage m_image;
    wxBitmap m_bitmap;
    wxBitmap m_fitted;
    wxSize m_fittedFor;
    wxString m_message = "Warning! Not support the image format!";
};

// On the kit's skinned base: resizable (353 x 200 at least), titled "<name> - File Preview". The
// text view's line index is built behind the "Loading file..." progress dialog.
class CFilePreviewDlg : public CSkinnedViewDlg {
public:
    CFilePreviewDlg(wxWindow* parent, const std::string& tempPath, const std::string& displayName);

    enum Tab { TAB_TEXT = 0, TAB_HEX = 1, TAB_IMAGE = 2 };
    void SelectTab(int tab);
    int CurrentTab() const { return m_tabs->GetSelection(); }
    // Scrolls the text or hex view to a line (or row) and shows that page at once.
    void ScrollTo(std::uint64_t line);
    // Scrolls as the scroll bar, the wheel and the keys do: the page is refreshed at most every
    // 100 ms (at once at either end); a skipped refresh is made when the 100 ms are over.
    void ScrollFromUser(std::uint64_t line);
    // The hex view's tab stops (one every 15 dialog units), in tenths of a millimetre.
    const wxArrayInt& HexTabStops() const { return m_hexTabs; }
    std::uint64_t Position() const { return m_position; }
    std::uint64_t TextLines() const { return m_index.size() > 1 ? m_index.size() - 1 : 0; }
    std::uint64_t HexRows() const { return HexRowCount(m_file.Size()); }
    wxTextCtrl* TextView() const { return m_text; }
    wxTextCtrl* HexView() const { return m_hex; }
    CImageWindow* ImageView() const { return m_image; }
    CButtonPlus* BestFitButton() const { return m_bestFit; }
    CButtonPlus* ActualSizeButton() const { return m_actualSize; }
    // The line along the bottom of the image tab: what the picture is.
    wxStaticText* InfoText() const { return m_info; }
    int RowsPerPage() const;
    // The width the hex view needs for a whole row (the characters' column included).
    int HexRowWidth() const;

private:
    void BuildIndexWithProgress();
    void LayoutImagePage();
    void FitHexRow();
    void FillInfoText(const std::string& path);
    void Refresh_(bool force = true);
    void ApplyHexTabStops();
    void OnTabChanged(wxBookCtrlEvent&);
    void OnScroll(wxScrollEvent&);
    void OnWheel(wxMouseEvent&);
    void OnKey(wxKeyEvent&);
    void OnSize(wxSizeEvent&);

    CPreviewFile m_file;
    std::vector<std::uint64_t> m_index;
    bool m_loaded = false;
    wxNotebook* m_tabs = nullptr;
    wxPanel* m_textPage = nullptr;
    wxPanel* m_hexPage = nullptr;
    wxPanel* m_imagePage = nullptr;
    wxTextCtrl* m_text = nullptr;
    wxTextCtrl* m_hex = nullptr;
    wxScrollBar* m_bar = nullptr;
    wxScrollBar* m_hexBar = nullptr;
    CImageWindow* m_image = nullptr;
    CButtonPlus* m_bestFit = nullptr;
    CButtonPlus* m_actualSize = nullptr;
    wxStaticText* m_info = nullptr;
    std::uint64_t m_position = 0;
    int m_positionView = TAB_TEXT; // whose lines the position counts
    std::chrono::steady_clock::time_point m_lastRefresh{};
    wxTimer m_refreshTimer;
    wxArrayInt m_hexTabs;
};

// Shows rich text read by the program's own RTF reader in a styled text control.
class CRtfPreviewerDlg : public CSkinnedViewDlg {
public:
    CRtfPreviewerDlg(wxWindow* parent, const std::string& path, const std::string& title);
    wxTextCtrl* Text() const { return m_text; }

private:
    wxTextCtrl* m_text = nullptr;
};
