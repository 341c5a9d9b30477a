#pragma once
// What the sheet shows for its current page: the heading and which footer buttons are
// visible. The window sheet draws it; tests read it.
#include "app/wizard/WizardTypes.h"

struct SheetFooter {
    bool home = false, next = false, back = false;
    bool network = false;   // the two network-page buttons
    bool deepScan = false;  // shown and enabled together
    bool operator==(const SheetFooter&) const = default;
};

class CWizardSheetModel {
public:
    // `mode` is the chosen recovery mode (the "Deep Scan" button needs Deleted File Recovery).
    void SetActivePage(int index, int mode);
    int ActivePage() const { return m_index; }
    const SheetFooter& Footer() const { return m_footer; }
    // String id of the heading, 0 for an index without one.
    int HeadingId() const { return m_heading; }

    static SheetFooter FooterFor(int index, int mode);
    static int HeadingFor(int index);

private:
    int m_index = 0;
    int m_heading = 0;
    SheetFooter m_footer = FooterFor(0, 0);
};
