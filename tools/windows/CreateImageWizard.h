#pragma once
// The disk-image creation wizard: mode, destination (simple or advanced with compression and
// slices), sector region, summary, the imaging run and the success page, over the models of
// ImageWizardModel.h and ImagingRun.h. CreateImageOfDevice is what the device pages call.
#include "storage/StorageDevice.h"
#include "tools/ImagingRun.h"
#include "tools/windows/SectorSelectCtrl.h"
#include "tools/windows/WizardFrame.h"

#include <wx/gauge.h>
#include <wx/spinbutt.h>

#include <functional>
#include <memory>
#include <string>

struct CreateImageOptions {
    imagetool::FreeSpaceFunction freeSpace = imagetool::SystemFreeSpace;
    // True when a destination path lies on the device being imaged (the caution question).
    std::function<bool(const std::string& path)> destinationOnSource;
    ToolUiHooks hooks = ToolUiHooks::Defaults();
};

struct CreateImageResult {
    bool openInDeviceList = false;  // the image was made and the user wants it listed
    std::string imagePath;          // the ".edi"
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;  // inclusive
    std::uint64_t ImageSectors() const { return lastSector - firstSector + 1; }
    bool ran = false;
    imagetool::ImagingOutcome outcome = imagetool::ImagingOutcome::Failed;
};

class CImageDiskMasterDlg : public CToolWizardFrame, public imagetool::IImagingRunUi {
public:
    CImageDiskMasterDlg(wxWindow* parent, IStorageDevice* source, const std::string& sourceName,
                        std::uint32_t headsPerCylinder, CreateImageOptions options);
    ~CImageDiskMasterDlg() override;

    const CreateImageResult& Result() const { return m_result; }
    const imagetool::ImagingJob& Job() const { return m_job; }

    // Controls the window tests drive.
    wxCheckBox* AdvancedCheck() const { return m_advanced; }
    wxTextCtrl* SimplePathEdit() const { return m_simplePath; }
    wxTextCtrl* AdvancedPathEdit() const { return m_advPath; }
    wxCheckBox* CompressCheck() const { return m_compress; }
    wxChoice* LevelChoice() const { return m_level; }
    wxCheckBox* SliceCheck() const { return m_split; }
    wxChoice* SliceChoice() const { return m_slice; }
    wxTextCtrl* StartEdit() const { return m_start; }
    wxTextCtrl* EndEdit() const { return m_end; }
    CSectorSelectCtrl* SectorBar() const { return m_bar; }
    wxStaticText* SummaryValue(int i) const { return m_summary[i]; }
    imagetool::CImagingRun* ImagingRun() const { return m_run.get(); }

    void OnNext() override;
    void OnBack() override;
    void OnCancelPressed() override;

protected:
    void OnInitDialog() override;
    // Escape asks to cancel only on the summary and the run pages.
    bool PageSwallowsEscape(int page) const override {
        return page != imagetool::kPageSummary && page != imagetool::kPageRun;
    }
    // The window manager's close does nothing while imaging and on the success page.
    bool IgnoresSystemClose() const override {
        return m_running || ShownPage() == imagetool::kPageRun || ShownPage() == imagetool::kPageSuccess;
    }

private:
    void BuildPages();
    void ShowCurrent();
    void ReadChoices();
    bool ReadRegion();
    bool CheckDestinationOf(wxTextCtrl* edit);
    void FillSummary();
    void RunImaging();
    void OnPathButton(wxTextCtrl* edit);
    void OnPathTyped(wxTextCtrl* edit);
    void OnBarChanged();
    void OnRegionTyped();
    void OnSpin(wxTextCtrl* edit, int delta);
    void UpdateRunTexts();

    // IImagingRunUi
    void Pump() override;
    bool AskOutOfSpace() override;
    std::string ChooseSliceLocation() override;
    void Progress() override;

    IStorageDevice* m_source;
    CreateImageOptions m_options;
    imagetool::ImagingJob m_job;
    imagetool::ImageWizardFlow m_flow;
    CreateImageResult m_result;
    std::unique_ptr<imagetool::CImagingRun> m_run;
    bool m_running = false;
    bool m_endAfterRun = false;
    bool m_updatingRegion = false;
    std::uint64_t m_lastProgressMs = 0;

    wxCheckBox* m_advanced = nullptr;
    wxTextCtrl* m_simplePath = nullptr;
    wxTextCtrl* m_advPath = nullptr;
    wxCheckBox* m_compress = nullptr;
    wxChoice* m_level = nullptr;
    wxCheckBox* m_split = nullptr;
    wxChoice* m_slice = nullptr;
    CSectorSelectCtrl* m_bar = nullptr;
    wxTextCtrl* m_start = nullptr;
    wxTextCtrl* m_end = nullptr;
    wxStaticText* m_summary[6] = {};
    wxStaticText* m_currentFile = nullptr;
    wxGauge* m_gauge = nullptr;
    wxStaticText* m_remaining = nullptr;
    wxStaticText* m_freeSpace = nullptr;
    wxStaticText* m_successPath = nullptr;
    wxCheckBox* m_openCheck = nullptr;
};

// Runs the wizard modally over `source` (not owned) and returns what the caller needs to list
// the new image.
CreateImageResult CreateImageOfDevice(wxWindow* parent, IStorageDevice* source, const std::string& sourceName,
                                      std::uint32_t headsPerCylinder, CreateImageOptions options = {});
