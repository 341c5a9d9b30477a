#pragma once
// The partition layout picture: a frame with the source's caption and panel on the left, and
// in it a scrolled view of bands of partition blocks. Blocks come and go as the found-partition
// list's boxes are ticked. What goes where is worked out by CPartitionLayoutModel.
#include "ui/views/PartitionLayoutModel.h"

#include <wx/scrolwin.h>
#include <wx/wx.h>

class CPartitionLayoutFrame;

class CPartitionLayoutView : public wxScrolledWindow, public IPartitionLayoutTarget {
public:
    static constexpr int kViewId = 3334;
    CPartitionLayoutView(CPartitionLayoutFrame* frame, wxWindowID id);

    // IPartitionLayoutTarget: repaints, or lays the frame out again when bands came or went.
    void AddPartition(const PartitionBlockDesc& block) override;
    void RemovePartition(const PartitionBlockDesc& block) override;
    // Destroys every band; neither lays out nor repaints.
    void RemoveAllDisks() { m_model.RemoveAllDisks(); }
    // Stacks the bands in the client width and updates the scroll size.
    void LayoutDisks();

    CPartitionLayoutModel& Model() { return m_model; }
    const CPartitionLayoutModel& Model() const { return m_model; }

private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void DrawBlock(wxDC& dc, const PartitionBlock& block);

    CPartitionLayoutFrame* m_frame;
    CPartitionLayoutModel m_model;
    wxFont m_font;
    wxFont m_boldFont;
    wxBitmap m_icon;
};

class CPartitionLayoutFrame : public wxWindow {
public:
    CPartitionLayoutFrame(wxWindow* parent, wxWindowID id);

    // Caption, panel text and picture, and the size new bands take; does not repaint.
    void SetCaption(const LayoutSource& source);
    // Lays the view out for the client size and repaints.
    void RecalcLayout();
    CPartitionLayoutView* View() const { return m_view; }
    CPartitionLayoutModel& Model() { return m_view->Model(); }

private:
    void OnPaint(wxPaintEvent&);
    void OnSize(wxSizeEvent&);
    void Place();

    CPartitionLayoutView* m_view;
    wxFont m_font;
    wxColour m_background{239, 239, 247};
    int m_panelHeight = 80;
};

// The pictures of the layout: the partition icon (resource 210) and the four source pictures
// (80 x 52), each the program's resource when it has one, else drawn here.
wxBitmap PartitionIconBitmap(int width = 20, int height = 22);
wxBitmap LayoutSourceBitmap(int resourceId);
