#include "app/wizard/AppContext.h"

#include "app/wizard/PageController.h"

namespace {
AppContext* g_current = nullptr;
} // namespace

AppContext::AppContext(IUiServices& services, IDeviceSource& devices, platform::AppPaths paths)
    : m_services(services), m_devices(devices), m_paths(std::move(paths)), m_sheetController(*this) {
    auto mode = std::make_unique<CRecoveryModeSelectController>(*this, nullptr);
    m_mode = mode.get();
    m_controllers[kPageRecoveryMode] = std::move(mode);
    for (int i = 1; i < kPageCount; ++i)
        m_controllers[static_cast<std::size_t>(i)] = std::make_unique<CPendingStepController>(nullptr, i);
    m_outer = g_current;
    g_current = this;
}

AppContext::~AppContext() {
    // Results go first, from the last step to the first (a later step's results may be windows
    // on an earlier step's devices), then the controllers in the same order.
    for (auto it = m_controllers.rbegin(); it != m_controllers.rend(); ++it)
        if (*it)
            (*it)->Reset();
    for (auto it = m_controllers.rbegin(); it != m_controllers.rend(); ++it)
        it->reset();
    if (g_current == this)
        g_current = m_outer;
}

void AppContext::SetSheet(ISheet* sheet) {
    m_sheet = sheet;
    m_mode->SetSheet(sheet);
    for (auto& c : m_controllers)
        if (auto* base = dynamic_cast<CWizardPageControllerBase*>(c.get()))
            base->SetSheet(sheet);
}

IWizardPageController* AppContext::Controller(int pageIndex) const {
    if (pageIndex < 0 || pageIndex >= kPageCount)
        return nullptr;
    return m_controllers[static_cast<std::size_t>(pageIndex)].get();
}

void AppContext::SetController(int pageIndex, std::unique_ptr<IWizardPageController> controller) {
    if (pageIndex <= kPageRecoveryMode || pageIndex >= kPageCount)
        return;
    if (auto* base = dynamic_cast<CWizardPageControllerBase*>(controller.get()))
        base->SetSheet(m_sheet);
    m_controllers[static_cast<std::size_t>(pageIndex)] = std::move(controller);
}

AppContext* CurrentAppContext() { return g_current; }

IRecoveryModeSelectController* GetRecoveryModeSelectController() {
    return g_current ? &g_current->ModeController() : nullptr;
}

IWizardPageController* GetWizardController(int pageIndex) {
    return g_current ? g_current->Controller(pageIndex) : nullptr;
}
