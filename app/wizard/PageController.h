#pragma once
// The chain rules every wizard controller follows, as a base class: Activate shows the page,
// Back resets and activates the previous controller, Home resets and walks Home along the
// chain. A step's own controller overrides Next (and Reset, Activate as it needs).
#include "app/wizard/WizardTypes.h"

class CWizardPageControllerBase : public IWizardPageController {
public:
    CWizardPageControllerBase(ISheet* sheet, int pageIndex) : m_sheet(sheet), m_pageIndex(pageIndex) {}
    void Activate() override;
    void Home() override;
    void Back() override;
    void Next() override {}
    void SetPrevious(IWizardPageController* previous) override { m_previous = previous; }
    IWizardPageController* GetPrevious() const override { return m_previous; }
    // Answered by the previous controller (later steps work on what the earlier ones chose).
    int GetScanKind() const override { return m_previous ? m_previous->GetScanKind() : kScanNone; }
    void GetSource(RecoverySource& out) const override;

    int PageIndex() const { return m_pageIndex; }
    void SetSheet(ISheet* sheet) { m_sheet = sheet; }
    ISheet* Sheet() const { return m_sheet; }

protected:
    // Moves on: `next` remembers this controller and is activated.
    void MoveTo(IWizardPageController* next);

private:
    ISheet* m_sheet;
    int m_pageIndex;
    IWizardPageController* m_previous = nullptr;
};

// A step whose work comes later: it shows its page and follows the chain rules only.
class CPendingStepController : public CWizardPageControllerBase {
public:
    using CWizardPageControllerBase::CWizardPageControllerBase;
};
