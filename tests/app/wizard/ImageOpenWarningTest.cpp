// Opening a block image whose slice file was cut short, through each recovery mode's open
// command: the image is listed (what it holds reads as it should), and the user is warned at
// once how much of it is gone. An image that is whole opens without a word.
#include "app/wizard/AppContext.h"
#include "app/wizard/CompleteRecoveryPartitionController.h"
#include "app/wizard/DeleteRecoveryController.h"
#include "app/wizard/LostRecoveryControllers.h"
#include "storage/DiskImage.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "tests/support/BlockImages.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/ScriptedUiServices.h"
#include "tests/support/WizardFakes.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

// 4 MiB of data as a stored block image in `dir`; with `cut`, its slice loses its last
// 300,000 bytes (three blocks, the third in part).
std::string MakeImage(const std::string& dir, const std::string& name, bool cut) {
    const std::string raw = dir + "/" + name + ".bin";
    EXPECT_TRUE(WriteFileBytes(raw, PatternBytes(4u << 20, 5)));
    const std::string path = dir + "/" + name + ".edi";
    EXPECT_TRUE(WriteBlockImage(raw, path));
    if (cut) {
        const std::string slice = ImageSlicePath(path, 0);
        fs::resize_file(slice, fs::file_size(slice) - 300000);
    }
    return path;
}

struct Mode {
    const char* name;
    int mode;
    bool wizard; // the command asks for the image through the open-image wizard
    // Opens the image through the mode's command; the number of images it then lists.
    std::function<std::size_t(AppContext&, const std::string&)> open;
};

} // namespace

TEST(ImageOpenWarning, CutImageIsListedWithAWarningInEveryMode) {
    const std::string dir = ScratchDir("image-open-warning");
    const std::string whole = MakeImage(dir, "Whole", false);
    const std::string cut = MakeImage(dir, "Cut", true);
    const std::string missing = uifmt::FormatSectorsSize64(3 * 256);
    {
        CImageFileDeviceWithDecompress image(cut.c_str());
        ASSERT_EQ(image.CheckSliceFiles(), 1);
        ASSERT_EQ(image.GetMissingSectorCount(), 3u * 256);
    }
    const Mode modes[] = {
        {"deleted file", kModeDeletedFile, true,
         [](AppContext&, const std::string&) {
             auto& c = *GetDeleteRecoveryPartitionDeviceSelectController();
             c.OpenDiskImage();
             return c.Images().size();
         }},
        {"deep scan", kModeDeepScan, false,
         [](AppContext& ctx, const std::string& path) {
             auto& c = *static_cast<CCompleteRecoveryPartitionDeviceSelectController*>(
                 ctx.Controller(kPageCompleteRecoveryPartition));
             c.AddImage(path);
             return c.Images().size();
         }},
        {"lost partition", kModeLostPartition, true,
         [](AppContext& ctx, const std::string&) {
             auto& c = *dynamic_cast<CLostRecoveryDiskDeviceSelectController*>(ctx.Controller(kPageLostRecoveryDisk));
             c.OpenDiskImage();
             return c.Images().size();
         }},
    };
    for (const Mode& m : modes) {
        SCOPED_TRACE(m.name);
        ScriptedUiServices ui;
        NoDevices devices;
        AppContext ctx{ui, devices, platform::AppPaths{"", ScratchDir("image-open-warning-state") + "/", "", ""}};
        FakeSheet sheet{ctx};
        ctx.SetSheet(&sheet);
        InstallDeletedFileRecoverySteps(ctx);
        InstallDeepScanSteps(ctx);
        InstallLostPartitionRecoverySteps(ctx);
        ui.ExpectWaiting(uistr::kPleaseWaitScanning);
        ctx.ModeController().ChooseMode(m.mode);

        if (m.wizard)
            ui.ExpectDiskImageWizard(whole);
        EXPECT_EQ(m.open(ctx, whole), 1u);
        EXPECT_TRUE(ui.Texts().empty());
        if (m.wizard)
            ui.ExpectDiskImageWizard(cut);
        ui.ExpectMessage(uistr::kImageDataMissing, kAnswerOk);
        EXPECT_EQ(m.open(ctx, cut), 2u);
        ASSERT_EQ(ui.Texts().size(), 1u);
        EXPECT_NE(ui.Texts()[0].find(" " + missing + " "), std::string::npos) << ui.Texts()[0];
        EXPECT_TRUE(ui.Done());
    }
}
