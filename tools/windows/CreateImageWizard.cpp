#include "tools/windows/CreateImageWizard.h"
#include "ui/controls/StringTable.h"

#include "ui/controls/MessageBoxLayout.h"
#include "ui/controls/UiCommon.h"
#include "ui/controls/UiRuntime.h"

#include <chrono>

using namespace imagetool;

namespace {

constexpr int kTextRegionInvalid = uistr::kImageRegionInvalid;
const char* const kImageWildcard = "Oxtavo Data Recovery ImageFile(*.edi)|*.edi";
const char* const kSliceWildcard = "Oxtavo Data Recovery ImageFile(*.edf)|*.edf";

std::string Text(const wxTextCtrl* edit) { return std::string(edit->GetValue().utf8_str()); }
wxString Wx(const std::string& s) { return wxString::FromUTF8(s.c_str()); }

std::uint64_t NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

CImageDiskMasterDlg::CImageDiskMasterDlg(wxWindow* parent, IStorageDevice* source, const std::string& sourceName,
                                         std::uint32_t headsPerCylinder, CreateImageOptions options)
    : CToolWizardFrame(215, parent, options.hooks), m_source(source), m_options(std::move(options)) {
    m_job.sourceName = sourceName.substr(0, 259);
    m_job.sourceSectors = source ? source->GetSectorCount() : 0;
    m_job.headsPerCylinder = headsPerCylinder;
    m_job.region = {0, m_job.sourceSectors ? m_job.sourceSectors - 1 : 0};
}

CImageDiskMasterDlg::~CImageDiskMasterDlg() = default;

void CImageDiskMasterDlg::OnInitDialog() {
    BuildFrame(kImagePageCount, 60, 170);
    BuildPages();
    ShowCurrent();
}

void CImageDiskMasterDlg::BuildPages() {
    // Page 0: mode.
    wxPanel* p = Page(kPageMode);
    PageText(p, "Welcome to Disk Image Wizard of Oxtavo Data Recovery", 20, 10, -1, true);
    PageText(p, "Select Drive To Image:", 20, 50);
    const std::string shown = m_job.sourceName.size() > 25 ? m_job.sourceName.substr(0, 25) + "..." : m_job.sourceName;
    PageText(p, shown.c_str(), 180, 50, 300, true);
    m_advanced = new wxCheckBox(p, wxID_ANY, "Advanced Wizard Mode:", wxPoint(20, 90));
    PageText(p, "To continue, click Next", 20, 135);

    // Page 2: simple destination.
    p = Page(kPageSimplePath);
    PageText(p, "Disk Image File Name:", 20, 20);
    m_simplePath = new wxTextCtrl(p, wxID_ANY, wxString(), wxPoint(20, 45), wxSize(380, -1));
    CTextCenterButtonPlus* b = KitButton(p, "PATH>>>", wxPoint(410, 45));
    b->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnPathButton(m_simplePath); });
    m_simplePath->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnPathTyped(m_simplePath); });

    // Page 3: advanced destination.
    p = Page(kPageAdvancedPath);
    PageText(p, "Disk Image File Name:", 20, 10);
    m_advPath = new wxTextCtrl(p, wxID_ANY, wxString(), wxPoint(20, 32), wxSize(380, -1));
    b = KitButton(p, "PATH>>>", wxPoint(410, 32));
    b->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnPathButton(m_advPath); });
    m_advPath->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnPathTyped(m_advPath); });
    PageText(p, "Settings:", 20, 72);
    m_compress = new wxCheckBox(p, wxID_ANY, "Compress Disk Image File,compression level:", wxPoint(20, 95));
    const wxString levels[] = {"Fastest", "Normal", "Maximum"};
    m_level = new wxChoice(p, wxID_ANY, wxPoint(360, 90), wxSize(110, -1), 3, levels);
    m_split = new wxCheckBox(p, wxID_ANY, "Split Disk Image into slices,maximum size of a slice file:", wxPoint(20, 130));
    const wxString slices[] = {"4G", "2G", "1G", "640MB"};
    m_slice = new wxChoice(p, wxID_ANY, wxPoint(360, 125), wxSize(110, -1), 4, slices);
    m_level->SetSelection(0);
    m_slice->SetSelection(0);
    m_level->Enable(false);
    m_slice->Enable(false);
    m_compress->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { m_level->Enable(m_compress->GetValue()); });
    m_split->Bind(wxEVT_CHECKBOX, [this](wxCommandEvent&) { m_slice->Enable(m_split->GetValue()); });

    // Page 4: region.
    p = Page(kPageRegion);
    PageText(p, "Select region on the source disk which you want to store in the Disk Image and click Next", 20, 5, 470);
    m_bar = new CSectorSelectCtrl(p, wxID_ANY, wxPoint(20, 30), wxSize(470, 70));
    m_bar->SetColours(wxColour(202, 230, 247), wxColour(127, 197, 234));
    m_bar->InitRange(m_job.sourceSectors);
    m_bar->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { OnBarChanged(); });
    m_start = new wxTextCtrl(p, wxID_ANY, "0", wxPoint(20, 115), wxSize(150, -1));
    auto* startSpin = new wxSpinButton(p, wxID_ANY, wxPoint(172, 115), wxSize(-1, m_start->GetSize().y), wxSP_VERTICAL);
    m_end = new wxTextCtrl(p, wxID_ANY, Wx(std::to_string(m_job.region.last)), wxPoint(265, 115), wxSize(150, -1));
    auto* endSpin = new wxSpinButton(p, wxID_ANY, wxPoint(417, 115), wxSize(-1, m_end->GetSize().y), wxSP_VERTICAL);
    for (auto* spin : {startSpin, endSpin}) spin->SetRange(-1000000, 1000000);
    startSpin->Bind(wxEVT_SPIN_UP, [this](wxSpinEvent&) { OnSpin(m_start, 1); });
    startSpin->Bind(wxEVT_SPIN_DOWN, [this](wxSpinEvent&) { OnSpin(m_start, -1); });
    endSpin->Bind(wxEVT_SPIN_UP, [this](wxSpinEvent&) { OnSpin(m_end, 1); });
    endSpin->Bind(wxEVT_SPIN_DOWN, [this](wxSpinEvent&) { OnSpin(m_end, -1); });
    m_start->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnRegionTyped(); });
    m_end->Bind(wxEVT_TEXT, [this](wxCommandEvent&) { OnRegionTyped(); });

    // Page 1: summary.
    p = Page(kPageSummary);
    const char* labels[] = {"Source Disk ID:", "Source Disk Size:", "Source Disk Region:", "Source Disk Region Size:",
                            "Destination File:", "Compression Level:"};
    for (int i = 0; i < 6; ++i) {
        PageText(p, labels[i], 20, 10 + 25 * i);
        m_summary[i] = PageText(p, "", 200, 10 + 25 * i, 290, true);
    }

    // Page 5: run.
    p = Page(kPageRun);
    PageText(p, "Current file:", 20, 15);
    m_currentFile = PageText(p, "", 120, 15, 370);
    m_gauge = new wxGauge(p, wxID_ANY, 1000, wxPoint(20, 50), wxSize(470, 22), wxGA_HORIZONTAL | wxGA_SMOOTH);
    PageText(p, "Remaining Time:", 20, 95);
    m_remaining = PageText(p, "00:00:00", 160, 95, 200);
    PageText(p, "Disk free space:", 20, 125);
    m_freeSpace = PageText(p, "", 160, 125, 200);

    // Page 6: success.
    p = Page(kPageSuccess);
    PageText(p, "Disk Image created successfully", 20, 15, -1, true);
    PageText(p, "Disk Image file:", 20, 55);
    m_successPath = PageText(p, "", 140, 55, 350);
    m_openCheck = new wxCheckBox(p, wxID_ANY, "Open this Disk Image in device list", wxPoint(20, 100));
    m_openCheck->SetValue(true);
}

void CImageDiskMasterDlg::ShowCurrent() {
    ShowPage(m_flow.Page());
    SetBanner(m_flow.Banner());
    BackButton()->Enable(m_flow.BackEnabled());
}

void CImageDiskMasterDlg::ReadChoices() {
    const CompressionChoice c = ChooseCompression(m_compress->GetValue(), m_level->GetSelection());
    m_job.compression = c.type;
    m_job.level = c.level;
    m_job.sliceSectors = ChooseSliceSectors(m_split->GetValue(), m_slice->GetSelection());
}

bool CImageDiskMasterDlg::ReadRegion() {
    SectorRegion region;
    if (ParseRegion(Text(m_start), Text(m_end), m_job.sourceSectors, &region) != RegionError::None) return false;
    m_job.region = region;
    return true;
}

bool CImageDiskMasterDlg::CheckDestinationOf(wxTextCtrl* edit) {
    const std::string path = FixImageFileName(Text(edit));
    edit->ChangeValue(Wx(path));
    std::uint64_t freeMiB = 0;
    if (!CheckDestination(path, m_options.freeSpace, &freeMiB)) {
        m_hooks.Message(kMbInformation, kMbOk, kTextCheckPath);
        return false;
    }
    // Writing the image onto the device being imaged overwrites its free space.
    if (m_options.destinationOnSource && m_options.destinationOnSource(path) &&
        m_hooks.Message(kMbWarning, kMbYes | kMbNo, kTextSameDeviceCaution) != 1)
        return false;
    m_job.destination = path;
    return true;
}

void CImageDiskMasterDlg::FillSummary() {
    const ImagingSummary s = MakeSummary(m_job);
    const std::string* values[] = {&s.sourceId, &s.sourceSize, &s.region, &s.regionSize, &s.destination, &s.level};
    for (int i = 0; i < 6; ++i) m_summary[i]->SetLabel(Wx(*values[i]));
}

void CImageDiskMasterDlg::OnNext() {
    const int page = m_flow.Page();
    if (page == kPageSimplePath) {
        ReadChoices();
        // Simple mode always writes zlib, at the level the advanced page holds.
        m_job.compression = COMPRESSION_ZLIB;
        m_job.region = {0, m_job.sourceSectors ? m_job.sourceSectors - 1 : 0};
    }
    if (page == kPageRegion) {
        ReadChoices();
        if (!ReadRegion()) {
            m_hooks.Message(kMbInformation, kMbOk, kTextRegionInvalid);
            return;
        }
    }
    switch (m_flow.Next(m_advanced->GetValue())) {
    case ImageWizardFlow::NextAction::CheckDestination:
        m_flow.DestinationChecked(CheckDestinationOf(page == kPageSimplePath ? m_simplePath : m_advPath));
        break;
    case ImageWizardFlow::NextAction::RunImaging:
        ShowCurrent();
        RunImaging();
        return;
    case ImageWizardFlow::NextAction::Finish:
        m_result.openInDeviceList = m_openCheck->GetValue();
        EndDialog(kResultCancel);
        return;
    case ImageWizardFlow::NextAction::ShowPage:
        break;
    }
    if (m_flow.Page() == kPageSummary) FillSummary();
    if (m_flow.Page() == kPageSuccess) CancelButton()->Enable(false);
    ShowCurrent();
}

void CImageDiskMasterDlg::OnBack() {
    m_flow.Back();
    ShowCurrent();
}

void CImageDiskMasterDlg::OnCancelPressed() {
    if (m_running) {
        m_run->SetPaused(true);
        const int answer = m_hooks.Message(kMbQuestion, kMbOk | kMbCancel, kTextCancelQuestion);
        m_run->SetPaused(false);
        if (answer == 1) {
            m_run->RequestCancel();
            m_endAfterRun = true;
        }
        return;
    }
    if (m_hooks.Message(kMbQuestion, kMbOk | kMbCancel, kTextCancelQuestion) == 1) EndDialog(kResultCancel);
}

void CImageDiskMasterDlg::RunImaging() {
    NextButton()->Enable(false);
    BackButton()->Enable(false);
    m_currentFile->SetLabel(Wx(ShortenPath(m_job.destination, 40, ".........")));
    m_run = std::make_unique<CImagingRun>(this, m_options.freeSpace);
    m_running = true;
    m_result.ran = true;
    m_result.imagePath = m_job.destination;
    m_result.firstSector = m_job.region.first;
    m_result.lastSector = m_job.region.last;
    const ImagingOutcome outcome = m_run->Run(m_source, m_job);
    m_running = false;
    m_result.outcome = outcome;
    UpdateRunTexts();
    CancelButton()->Enable(true);
    switch (outcome) {
    case ImagingOutcome::Success:
        m_successPath->SetLabel(Wx(ShortenPath(m_job.destination, 40, ".........")));
        m_flow.RunFinished(true);
        NextButton()->Enable(true);
        CancelButton()->Enable(false);
        ShowCurrent();
        BackButton()->Enable(false);
        break;
    case ImagingOutcome::Failed:
        m_hooks.Message(kMbInformation, kMbOk, kTextFail);
        break;
    case ImagingOutcome::NoSpaceAtStart:
        m_hooks.Message(kMbWarning, kMbOk, kTextNoSpaceAtStart);
        EndDialog(kResultCancel);
        return;
    case ImagingOutcome::Cancelled:
    case ImagingOutcome::NoSpace:
        EndDialog(kResultCancel);
        return;
    }
    if (m_endAfterRun) EndDialog(kResultCancel);
}

void CImageDiskMasterDlg::UpdateRunTexts() {
    if (!m_run) return;
    const std::uint64_t count = m_run->BlockCount();
    m_gauge->SetValue(count ? static_cast<int>(m_run->BlocksDone() * 1000 / count) : 0);
    m_remaining->SetLabel(Wx(m_run->RemainingTimeText()));
    m_freeSpace->SetLabel(Wx(m_run->FreeSpaceText()));
}

void CImageDiskMasterDlg::Pump() { PumpUiEvents(); }

void CImageDiskMasterDlg::Progress() {
    const std::uint64_t now = NowMs();
    if (now - m_lastProgressMs < 300 && m_run->BlocksDone() != m_run->BlockCount()) return;
    m_lastProgressMs = now;
    UpdateRunTexts();
}

bool CImageDiskMasterDlg::AskOutOfSpace() {
    return m_hooks.Message(kMbWarning, kMbYes | kMbNo, kTextNoSpaceQuestion) == 1;
}

std::string CImageDiskMasterDlg::ChooseSliceLocation() {
    const std::string path = m_hooks.chooseFile ? m_hooks.chooseFile(true, "", kSliceWildcard) : std::string();
    if (!path.empty()) m_currentFile->SetLabel(Wx(path));
    return path;
}

void CImageDiskMasterDlg::OnPathButton(wxTextCtrl* edit) {
    const std::string chosen = m_hooks.chooseFile ? m_hooks.chooseFile(true, "MOX_DiskImageFile.edi", kImageWildcard) : "";
    std::string path;
    if (!AcceptChosenImagePath(chosen.empty() ? Text(edit) : chosen, &path)) {
        m_hooks.Message(kMbWarning, kMbOk, kTextNameTooLong);
        edit->ChangeValue(wxString());
        return;
    }
    edit->ChangeValue(Wx(path));
}

void CImageDiskMasterDlg::OnPathTyped(wxTextCtrl* edit) {
    if (Text(edit).size() >= kMaxTypedPath) {
        edit->ChangeValue(wxString());
        m_hooks.Message(kMbWarning, kMbOk, kTextNameTooLong);
    }
}

void CImageDiskMasterDlg::OnBarChanged() {
    if (m_updatingRegion) return;
    m_updatingRegion = true;
    m_start->ChangeValue(Wx(std::to_string(m_bar->SelectionStart())));
    m_end->ChangeValue(Wx(std::to_string(m_bar->SelectionEnd())));
    m_updatingRegion = false;
}

void CImageDiskMasterDlg::OnRegionTyped() {
    if (m_updatingRegion) return;
    std::uint64_t start = 0, end = 0;
    if (!ParseSectorNumber(Text(m_start), &start) || !ParseSectorNumber(Text(m_end), &end)) return;
    m_updatingRegion = true;
    if (start > end && end <= m_bar->Bar().LastSector()) {
        // An end typed below the start moves the start to 0.
        start = 0;
        m_start->ChangeValue("0");
    }
    m_updatingRegion = false;
    m_bar->SetSelection(start, end);
}

void CImageDiskMasterDlg::OnSpin(wxTextCtrl* edit, int delta) {
    std::uint64_t v = 0;
    if (!ParseSectorNumber(Text(edit), &v)) v = 0;
    if (delta < 0 && v > 0) --v;
    if (delta > 0 && v < m_bar->Bar().LastSector()) ++v;
    edit->SetValue(Wx(std::to_string(v)));
}

CreateImageResult CreateImageOfDevice(wxWindow* parent, IStorageDevice* source, const std::string& sourceName,
                                      std::uint32_t headsPerCylinder, CreateImageOptions options) {
    CImageDiskMasterDlg dialog(parent, source, sourceName, headsPerCylinder, std::move(options));
    dialog.DoModal();
    CreateImageResult result = dialog.Result();
    if (result.outcome != ImagingOutcome::Success) result.openInDeviceList = false;
    return result;
}
