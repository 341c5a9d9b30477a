#pragma once
// The first step: the user picks one of the three recovery modes; the controller records it,
// writes the mode's line to the activity log and activates the mode's first step.
#include "app/wizard/PageController.h"

class IRecoveryModeSelectController : public IWizardPageController {
public:
    virtual void SetMode(int mode) = 0;
    virtual int GetMode() const = 0;
};

class AppContext;

class CRecoveryModeSelectController : public IRecoveryModeSelectController {
public:
    CRecoveryModeSelectController(AppContext& context, ISheet* sheet) : m_context(context), m_sheet(sheet) {}
    void Activate() override;
    void Home() override { Activate(); }
    void Back() override {}
    void Next() override;
    void SetPrevious(IWizardPageController*) override {}
    IWizardPageController* GetPrevious() const override { return nullptr; }
    void SetMode(int mode) override { m_mode = mode; }
    int GetMode() const override { return m_mode; }
    void SetSheet(ISheet* sheet) { m_sheet = sheet; }

    // A mode button: the mode, then Next.
    void ChooseMode(int mode);

private:
    AppContext& m_context;
    ISheet* m_sheet;
    int m_mode = kModeDeletedFile;
};
