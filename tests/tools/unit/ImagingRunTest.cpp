// Imaging runs with the real image writer and reader over a FAT volume made by mkfs.fat.
#include "storage/DiskImage.h"
#include "storage/ImageFileDevice.h"
#include "storage/ImageFileDeviceWithDecompress.h"
#include "tests/support/FatImages.h"
#include "tests/support/FixtureKit.h"
#include "tools/ImagingRun.h"
#include "tools/SliceList.h"

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace imagetool;
using namespace testsupport;

namespace {

std::string FatVolume() {
    return CachedFixture("tools-imaging-fat16-v1.img", [](const std::string& tmp) {
        FatImageOptions options;
        options.fatBits = 16;
        options.sizeKiB = 8 * 1024;
        options.sectorsPerCluster = 1;
        if (!RequireFatTools() || !FatImage::Format(tmp, options)) return false;
        FatImage image(tmp);
        bool ok = image.MakeDir("/Docs");
        ok = ok && image.WriteFile("/Docs/random.bin", PatternBytes(900 * 1024, 7));
        std::vector<std::uint8_t> text;
        for (int i = 0; text.size() < 1500 * 1024; ++i) {
            const std::string line = "line " + std::to_string(i) + " of a compressible file\n";
            text.insert(text.end(), line.begin(), line.end());
        }
        ok = ok && image.WriteFile("/Docs/text.txt", text);
        ok = ok && image.WriteFile("/tail.bin", PatternBytes(2 * 1024 * 1024, 9));
        return ok;
    });
}

constexpr std::uint64_t kPlenty = 1ull << 40;

struct FakeUi : IImagingRunUi {
    std::function<void(FakeUi&)> onPump;
    std::vector<bool> outOfSpaceAnswers;  // consumed in order; none left means No
    std::vector<std::string> locations;   // consumed in order; none left means cancelled
    int questions = 0;
    int dialogs = 0;
    std::uint64_t blocks = 0;
    CImagingRun* run = nullptr;

    void Pump() override {
        if (onPump) onPump(*this);
    }
    bool AskOutOfSpace() override {
        ++questions;
        if (outOfSpaceAnswers.empty()) return false;
        const bool yes = outOfSpaceAnswers.front();
        outOfSpaceAnswers.erase(outOfSpaceAnswers.begin());
        return yes;
    }
    std::string ChooseSliceLocation() override {
        ++dialogs;
        if (locations.empty()) return "";
        const std::string path = locations.front();
        locations.erase(locations.begin());
        return path;
    }
    void Progress() override { ++blocks; }
};

ImagingJob JobFor(IStorageDevice& source, const std::string& destination) {
    ImagingJob job;
    job.sourceName = "E : DATA  (FAT16)";
    job.sourceSectors = source.GetSectorCount();
    job.region = {0, source.GetSectorCount() - 1};
    job.destination = destination;
    return job;
}

// Reads the whole image back and compares it with the source's region.
void ExpectReadsBack(const std::string& edi, IStorageDevice& source, const SectorRegion& region) {
    CImageFileDeviceWithDecompress image(edi.c_str());
    ASSERT_EQ(image.CheckSliceFiles(), 1);
    const std::uint64_t stored = region.Size();
    ASSERT_EQ(image.GetSectorCount(), stored);
    std::vector<std::uint8_t> want(stored * 512, 0), got(stored * 512, 1);
    ASSERT_EQ(source.ReadSectors(want.data(), region.first, region.Size()), 1);
    ASSERT_EQ(image.ReadSectors(got.data(), 0, stored), 1);
    EXPECT_TRUE(want == got);
}

std::vector<std::string> ListLines(const std::string& edi) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(ImageSliceListPath(edi));
    std::vector<std::string> lines;
    EXPECT_TRUE(ReadSliceListLines(reinterpret_cast<const char*>(bytes.data()), bytes.size(), &lines));
    if (!bytes.empty()) {
        EXPECT_EQ(bytes[bytes.size() - 2], '\r');
    }
    return lines;
}

FreeSpaceFunction Plenty() {
    return [](const std::string&, std::uint64_t* bytes) {
        *bytes = kPlenty;
        return true;
    };
}

}  // namespace

TEST(ImagingRun, ModesAndLevelsReadBackExactly) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    ASSERT_EQ(source.GetSectorCount(), 16384u);
    struct Case {
        const char* name;
        CompressionChoice compression;
        SectorRegion region;
        std::uint32_t slice;
    };
    const Case cases[] = {
        {"simple", {COMPRESSION_ZLIB, -1}, {0, 16383}, ChooseSliceSectors(false, 0)},
        {"none", ChooseCompression(false, 0), {0, 16383}, 1024},
        {"fastest", ChooseCompression(true, 0), {100, 9999}, 1024},
        {"normal", ChooseCompression(true, 1), {0, 16383}, 512},
        {"maximum", ChooseCompression(true, 2), {16000, 16383}, 512},
        {"one-sector", ChooseCompression(true, 2), {5, 5}, 512},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = ScratchDir(std::string("imaging-") + c.name);
        FakeUi ui;
        CImagingRun run(&ui, Plenty());
        ImagingJob job = JobFor(source, dir + "/image.edi");
        job.region = c.region;
        job.compression = c.compression.type;
        job.level = c.compression.level;
        job.sliceSectors = c.slice;
        ASSERT_EQ(run.Run(&source, job), ImagingOutcome::Success);
        EXPECT_EQ(ui.questions, 0);
        EXPECT_EQ(ui.blocks, (c.region.Size() + 255) / 256);
        ExpectReadsBack(job.destination, source, c.region);
        const std::vector<std::string> lines = ListLines(job.destination);
        ASSERT_EQ(lines.size(), run.SlicesOpened());
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_EQ(lines[i], ImageSlicePath(job.destination, static_cast<unsigned>(i)));
        if (c.slice == 512 && c.region.Size() > 4096) {
            EXPECT_GT(lines.size(), 1u);
        }
        EXPECT_EQ(CheckSliceList(ImageSliceListPath(job.destination)), SliceListCheck::Complete);
    }
}

TEST(ImagingRun, OutOfSpaceContinuesInAnotherFolder) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    const std::string first = ScratchDir("imaging-space-a");
    const std::string second = ScratchDir("imaging-space-b");
    FakeUi ui;
    ui.outOfSpaceAnswers = {true};
    ui.locations = {second + "/rest.edf"};
    // The first folder fills up after block 20; the second has room.
    CImagingRun run(&ui, [&](const std::string& folder, std::uint64_t* bytes) {
        *bytes = (folder == first && ui.blocks >= 20) ? 19 * 1024 * 1024 : kPlenty;
        return true;
    });
    ImagingJob job = JobFor(source, first + "/image.edi");
    job.compression = COMPRESSION_NONE;
    job.sliceSectors = 2048;  // 8 blocks a slice
    ASSERT_EQ(run.Run(&source, job), ImagingOutcome::Success);
    EXPECT_EQ(ui.questions, 1);
    EXPECT_EQ(ui.dialogs, 1);
    const std::vector<std::string> lines = ListLines(job.destination);
    ASSERT_GE(lines.size(), 4u);
    // Slices 0..2 stay in the first folder; the slice that holds block 20 and the rest go on
    // in the second with the running slice numbers.
    EXPECT_EQ(lines[0], first + "/image.part0.edf");
    EXPECT_EQ(lines[2], first + "/image.part2.edf");
    EXPECT_EQ(lines[3], second + "/rest.part3.edf");
    EXPECT_EQ(lines.back(), second + "/rest.part" + std::to_string(lines.size() - 1) + ".edf");
    ExpectReadsBack(job.destination, source, job.region);
}

TEST(ImagingRun, OutOfSpaceNoOrCancelledDialogAborts) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    struct Case {
        const char* name;
        std::vector<bool> answers;
        std::vector<std::string> locations;
        int dialogs;
    };
    const std::string full = ScratchDir("imaging-full");
    const Case cases[] = {
        {"no", {false}, {}, 0},
        {"dialog cancelled", {true}, {}, 1},
        // A new place that is full too asks again; No then stops.
        {"new place full", {true, false}, {full + "/more.edf"}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = ScratchDir("imaging-abort");
        FakeUi ui;
        ui.outOfSpaceAnswers = c.answers;
        ui.locations = c.locations;
        CImagingRun run(&ui, [&](const std::string& folder, std::uint64_t* bytes) {
            *bytes = (folder == full || ui.blocks >= 5) ? 1024 * 1024 : kPlenty;
            return true;
        });
        ImagingJob job = JobFor(source, dir + "/image.edi");
        EXPECT_EQ(run.Run(&source, job), ImagingOutcome::NoSpace);
        EXPECT_EQ(ui.blocks, 5u);  // nothing written after the question
        EXPECT_EQ(ui.dialogs, c.dialogs);
    }
}

TEST(ImagingRun, NoSpaceAtStartWritesNothing) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    const std::string dir = ScratchDir("imaging-start");
    FakeUi ui;
    CImagingRun run(&ui, [](const std::string&, std::uint64_t* bytes) {
        *bytes = 19 * 1024 * 1024;
        return true;
    });
    EXPECT_EQ(run.Run(&source, JobFor(source, dir + "/image.edi")), ImagingOutcome::NoSpaceAtStart);
    struct stat st {};
    EXPECT_NE(stat((dir + "/image.edi").c_str(), &st), 0);
}

TEST(ImagingRun, CancelQuestion) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    auto runWith = [&](const std::string& dir, bool confirm) {
        FakeUi ui;
        CImagingRun run(&ui, Plenty());
        ui.onPump = [&](FakeUi& self) {
            if (self.blocks == 7) {
                run.SetPaused(true);  // the question is open
                if (confirm) run.RequestCancel();
                run.SetPaused(false);
            }
        };
        ImagingJob job = JobFor(source, dir + "/image.edi");
        job.compression = COMPRESSION_ZLIB;
        job.level = 5;
        job.sliceSectors = 4096;
        const ImagingOutcome outcome = run.Run(&source, job);
        return std::make_pair(outcome, ui.blocks);
    };
    const std::string plain = ScratchDir("imaging-plain");
    const std::string kept = ScratchDir("imaging-kept");
    const std::string stopped = ScratchDir("imaging-stopped");
    FakeUi ui;
    CImagingRun reference(&ui, Plenty());
    ImagingJob job = JobFor(source, plain + "/image.edi");
    job.compression = COMPRESSION_ZLIB;
    job.level = 5;
    job.sliceSectors = 4096;
    ASSERT_EQ(reference.Run(&source, job), ImagingOutcome::Success);

    const auto goOn = runWith(kept, false);
    EXPECT_EQ(goOn.first, ImagingOutcome::Success);
    EXPECT_EQ(ReadFileBytes(plain + "/image.edi"), ReadFileBytes(kept + "/image.edi"));
    for (unsigned i = 0; i < reference.SlicesOpened(); ++i)
        EXPECT_EQ(ReadFileBytes(ImageSlicePath(plain + "/image.edi", i)),
                  ReadFileBytes(ImageSlicePath(kept + "/image.edi", i)));

    const auto cancelled = runWith(stopped, true);
    EXPECT_EQ(cancelled.first, ImagingOutcome::Cancelled);
    EXPECT_EQ(cancelled.second, 7u);
}

TEST(ImagingRun, WriterFailureIsFailed) {
    const std::string volume = FatVolume();
    ASSERT_FALSE(volume.empty());
    CImageFileDevice source(volume.c_str());
    FakeUi ui;
    CImagingRun run(&ui, Plenty());
    const std::string dir = ScratchDir("imaging-fail");
    EXPECT_EQ(run.Run(&source, JobFor(source, dir + "/missing/image.edi")), ImagingOutcome::Failed);
}

TEST(ImagingRun, RemainingTime) {
    std::uint64_t now = 1000;
    FakeUi ui;
    CImagingRun run(&ui, Plenty(), [&] { return now; });
    run.SetBlockCount(0, 100);
    EXPECT_EQ(run.RemainingTimeText(), "Calculating...");
    now += 6000;
    EXPECT_EQ(run.RemainingTimeText(), "Calculating...");  // no block yet
    for (int i = 0; i < 10; ++i) run.OnBlockDone(i);
    // 90 blocks left at 600 ms each: 54 s, shown rounded up.
    EXPECT_EQ(run.RemainingTimeText(), "00:00:55");
    run.SetBlockCount(0, 1000000);
    now += 6000;
    for (int i = 0; i < 10; ++i) run.OnBlockDone(i);
    EXPECT_EQ(run.RemainingTimeText(), "166:39:55");
}

TEST(ImagingRun, DestinationCheck) {
    const std::string dir = ScratchDir("imaging-dest");
    std::uint64_t mib = 0;
    // An existing file at the destination is never opened or removed by the check.
    ASSERT_TRUE(WriteFileBytes(dir + "/old.edi", {1, 2, 3}));
    EXPECT_TRUE(CheckDestination(dir + "/old.edi", Plenty(), &mib));
    EXPECT_EQ(ReadFileBytes(dir + "/old.edi"), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(mib, kPlenty / 1024 / 1024);
    EXPECT_FALSE(CheckDestination(dir + "/nowhere/x.edi", Plenty(), &mib));
    EXPECT_FALSE(CheckDestination(dir + "/x.edi",
                                  [](const std::string&, std::uint64_t* b) {
                                      *b = 1000;
                                      return true;
                                  },
                                  &mib));
    // The real free space of the scratch folder.
    EXPECT_TRUE(CheckDestination(dir + "/x.edi", SystemFreeSpace, &mib));
    // Nothing is left behind.
    std::string listing;
    testsupport::Run("ls -A " + ShellQuote(dir), &listing);
    EXPECT_EQ(listing, "old.edi\n");
}
