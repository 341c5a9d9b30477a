#pragma once
// Page 6, the save target page: the target folder's edit, the folder tree to pick it, and the
// space chart of its file system. The edit and the tree write the controller's page model.
#include "app/windows/WizardPage.h"
#include "app/wizard/SaveFileController.h"

class CEditPlus;
class CPieCtrl;
class CShellTreeCtrl;

class CSaveFilePage : public CWizardPage {
public:
    enum : int { kIdTarget = 1019, kIdShellTree = 1020, kIdPie = 1021 };
    CSaveFilePage(wxWindow* parent, CSaveFileController& controller);
    ~CSaveFilePage() override;
    void LayoutPage(int cx, int cy) override;
    void Paint(wxDC& dc) override;
    CEditPlus* TargetEdit() const { return m_edit; }

private:
    void ShowModel();
    static void OnFolderPicked(void* self, const char* path);
    CSaveFileController& m_controller;
    CEditPlus* m_edit = nullptr;
    CShellTreeCtrl* m_tree = nullptr;
    CPieCtrl* m_pie = nullptr;
    bool m_updating = false;
};
