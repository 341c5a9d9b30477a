#pragma once
// The sheet's buttons go to the controller of the page shown; the sheet never decides itself.
#include "app/wizard/WizardTypes.h"

class AppContext;

class CWizardSheetController : public IWizardSheetController {
public:
    explicit CWizardSheetController(AppContext& context) : m_context(context) {}
    void Home() override;
    void Back() override;
    void Next() override;
    void ShowHelp() override;

    // The Home button: asks first; only Yes goes Home.
    void OnHomeButton();

private:
    IWizardPageController* Current() const;
    AppContext& m_context;
};
