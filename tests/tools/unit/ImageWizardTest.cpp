// The creation wizard's page flow, name rules, choices, summary and region arithmetic.
#include "storage/ImageFileDevice.h"
#include "tests/support/FixtureKit.h"
#include "tools/ImageRegion.h"
#include "tools/ImageWizardModel.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace imagetool;

TEST(ImageWizard, PageFlow) {
    ImageWizardFlow simple;
    EXPECT_EQ(simple.Page(), kPageMode);
    EXPECT_FALSE(simple.BackEnabled());
    EXPECT_EQ(simple.Next(false), ImageWizardFlow::NextAction::ShowPage);
    EXPECT_EQ(simple.Page(), kPageSimplePath);
    EXPECT_EQ(simple.Banner(), kTextDestinationTitle);
    EXPECT_EQ(simple.Next(false), ImageWizardFlow::NextAction::CheckDestination);
    simple.DestinationChecked(false);
    EXPECT_EQ(simple.Page(), kPageSimplePath);
    simple.DestinationChecked(true);
    EXPECT_EQ(simple.Page(), kPageSummary);
    simple.Back();
    EXPECT_EQ(simple.Page(), kPageSimplePath);  // back from the summary in simple mode
    simple.Back();
    EXPECT_EQ(simple.Page(), kPageMode);

    ImageWizardFlow advanced;
    advanced.Next(true);
    EXPECT_EQ(advanced.Page(), kPageAdvancedPath);
    advanced.Next(true);
    advanced.DestinationChecked(true);
    EXPECT_EQ(advanced.Page(), kPageRegion);
    EXPECT_EQ(advanced.Banner(), kTextRegionTitle);
    advanced.Next(true);
    EXPECT_EQ(advanced.Page(), kPageSummary);
    advanced.Back();
    EXPECT_EQ(advanced.Page(), kPageRegion);  // back from the summary in advanced mode
    advanced.Next(true);
    EXPECT_EQ(advanced.Next(true), ImageWizardFlow::NextAction::RunImaging);
    EXPECT_EQ(advanced.Page(), kPageRun);
    EXPECT_FALSE(advanced.BackEnabled());
    advanced.RunFinished(false);
    EXPECT_EQ(advanced.Page(), kPageRun);
    advanced.RunFinished(true);
    EXPECT_EQ(advanced.Page(), kPageSuccess);
    EXPECT_EQ(advanced.Banner(), kTextWizardTitle);
    EXPECT_EQ(advanced.Next(true), ImageWizardFlow::NextAction::Finish);
}

TEST(ImageWizard, NameRules) {
    const struct {
        const char* in;
        const char* out;
    } names[] = {
        {"/a/disk", "/a/disk.edi"},       {"/a/disk.edi", "/a/disk.edi"},
        {"x.edi", "x.edi.edi"},           {"/a/disk.EDI", "/a/disk.EDI.edi"},
        {"", ".edi"},
    };
    for (const auto& n : names) EXPECT_EQ(FixImageFileName(n.in), n.out) << n.in;

    std::string result;
    EXPECT_TRUE(AcceptChosenImagePath("/m/img", &result));
    EXPECT_EQ(result, "/m/img.edi");
    EXPECT_TRUE(AcceptChosenImagePath("*.edi", &result));
    EXPECT_EQ(result, "");
    EXPECT_TRUE(AcceptChosenImagePath("/" + std::string(195, 'a'), &result));  // 200 with ".edi"
    EXPECT_FALSE(AcceptChosenImagePath("/" + std::string(196, 'a'), &result));
    EXPECT_EQ(result, "");
}

TEST(ImageWizard, CompressionSliceAndSummary) {
    EXPECT_EQ(ChooseCompression(false, 2).type, COMPRESSION_NONE);
    EXPECT_EQ(ChooseCompression(false, 2).level, -1);
    const int levels[] = {1, 5, 9};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ChooseCompression(true, i).type, COMPRESSION_ZLIB);
        EXPECT_EQ(ChooseCompression(true, i).level, levels[i]);
    }
    EXPECT_EQ(ChooseSliceSectors(false, 3), 8388600u);
    const std::uint32_t slices[] = {8388600, 4194304, 2097152, 1310720};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ChooseSliceSectors(true, i), slices[i]);

    ImagingJob job;
    job.sourceName = "Disk 0";
    job.sourceSectors = 6000000000ull;  // beyond 32 bits
    job.region = {4294967296ull, 4294967296ull + 2097151};
    job.destination = "/media/backup/images/disk0.edi";
    job.level = -1;
    const ImagingSummary s = MakeSummary(job);
    EXPECT_EQ(s.sourceSize, "2861  GB");
    EXPECT_EQ(s.region, "4294967296---4297064447   Sectors");
    EXPECT_EQ(s.regionSize, "1  GB");  // inclusive: 2097152 sectors
    EXPECT_EQ(s.destination, "/media/backup/images/disk0.edi");
    EXPECT_EQ(s.level, "None");
    job.destination += "x";
    EXPECT_EQ(MakeSummary(job).destination, "/media/backup/images/disk0.edi......");
    job.region = {0, 2047};
    EXPECT_EQ(MakeSummary(job).regionSize, "1  MB");
    EXPECT_EQ(ShortenPath(std::string(41, 'p'), 40, "........."), std::string(40, 'p') + ".........");
}

TEST(ImageRegion, Texts) {
    const struct {
        const char* text;
        bool ok;
        std::uint64_t value;
    } cases[] = {
        {"0", true, 0},
        {"2147483648", true, 2147483648ull},
        {"18446744073709551615", true, UINT64_MAX},
        {"18446744073709551616", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+5", false, 0},
        {" 5", false, 0},
        {"12abc", false, 0},
        {"007", true, 7},
    };
    for (const auto& c : cases) {
        std::uint64_t v = 0;
        EXPECT_EQ(ParseSectorNumber(c.text, &v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    const std::uint64_t count = 5000000000ull;
    const struct {
        const char* first;
        const char* last;
        RegionError error;
    } regions[] = {
        {"0", "4999999999", RegionError::None},
        {"3000000000", "4000000000", RegionError::None},
        {"7", "7", RegionError::None},
        {"8", "7", RegionError::FirstAfterLast},
        {"0", "5000000000", RegionError::LastBeyondEnd},
        {"x", "7", RegionError::BadFirst},
        {"0", "", RegionError::BadLast},
    };
    for (const auto& r : regions) {
        SectorRegion region;
        EXPECT_EQ(ParseRegion(r.first, r.last, count, &region), r.error) << r.first << " " << r.last;
    }
    SectorRegion region;
    EXPECT_EQ(ParseRegion("0", "0", 0, &region), RegionError::EmptySource);
    ASSERT_EQ(ParseRegion("3000000000", "4000000000", count, &region), RegionError::None);
    EXPECT_EQ(region.Size(), 1000000001ull);
}

TEST(ImageRegion, BarEdgeCases) {
    SectorRangeBar bar;
    bar.SetGeometry(12, 400);
    bar.InitRange(4001);
    EXPECT_EQ(bar.SelectionLeft(), 12);
    EXPECT_EQ(bar.SelectionRight(), 412);
    EXPECT_DOUBLE_EQ(bar.Scale(), 10.0);

    // Invalid selections reset to the whole source and say so.
    const struct {
        std::uint64_t start, end;
        bool reset;
    } sets[] = {{100, 200, false}, {200, 100, true}, {0, 4001, true}, {4001, 4001, true},
                {4000, 4000, false}, {0, 4000, false}};
    for (const auto& s : sets) {
        EXPECT_EQ(bar.SetSelection(s.start, s.end), s.reset) << s.start << "-" << s.end;
        if (s.reset) {
            EXPECT_EQ(bar.Start(), 0u);
            EXPECT_EQ(bar.End(), 4000u);
        } else {
            EXPECT_EQ(bar.Start(), s.start);
            EXPECT_EQ(bar.End(), s.end);
        }
    }

    // Dragging the whole selection keeps its length and never passes the last sector.
    bar.SetSelection(1000, 1999);
    EXPECT_EQ(bar.SelectionLeft(), 112);
    EXPECT_EQ(bar.HitTest(150), SectorRangeBar::kDragWhole);
    EXPECT_EQ(bar.HitTest(108), SectorRangeBar::kDragLeft);
    EXPECT_EQ(bar.HitTest(bar.SelectionRight() + 3), SectorRangeBar::kDragRight);
    EXPECT_EQ(bar.HitTest(300), SectorRangeBar::kDragNone);
    bar.BeginDrag(SectorRangeBar::kDragWhole);
    bar.DragBy(1000);
    EXPECT_EQ(bar.End(), 4000u);
    EXPECT_EQ(bar.Start(), 3001u);
    bar.DragBy(-5000);
    EXPECT_EQ(bar.Start(), 0u);
    EXPECT_EQ(bar.End(), 999u);
    // Handles never pass each other.
    bar.BeginDrag(SectorRangeBar::kDragLeft);
    bar.DragBy(300);
    EXPECT_LE(bar.Start(), bar.End());
    EXPECT_GT(bar.Start(), 900u);
    bar.BeginDrag(SectorRangeBar::kDragRight);
    bar.DragBy(-300);
    EXPECT_GE(bar.End(), bar.Start());
    bar.DragBy(1000);
    EXPECT_EQ(bar.End(), 4000u);
    bar.EndDrag();

    // Resizing keeps the selection in sectors.
    bar.SetSelection(2000, 3000);
    bar.SetGeometry(12, 800);
    EXPECT_EQ(bar.Start(), 2000u);
    EXPECT_EQ(bar.End(), 3000u);
    EXPECT_EQ(bar.SelectionLeft(), 12 + 400);

    // One sector, and a bar of no width.
    SectorRangeBar one;
    one.SetGeometry(12, 400);
    one.InitRange(1);
    EXPECT_EQ(one.Scale(), 0.0);
    EXPECT_EQ(one.SelectionLeft(), 12);
    EXPECT_EQ(one.SelectionRight(), 412);
    one.BeginDrag(SectorRangeBar::kDragWhole);
    one.DragBy(50);
    EXPECT_EQ(one.Start(), 0u);
    EXPECT_EQ(one.End(), 0u);
    SectorRangeBar flat;
    flat.SetGeometry(12, 0);
    flat.InitRange(1000);
    EXPECT_EQ(flat.SelectionLeft(), 12);
    EXPECT_EQ(flat.SelectionRight(), 12);
    flat.BeginDrag(SectorRangeBar::kDragRight);
    flat.DragBy(10);
    EXPECT_GE(flat.End(), flat.Start());
    EXPECT_LE(flat.End(), 999u);
}

TEST(ImageRegion, SourceBeyond32Bits) {
    // A sparse image of 2^32 + 4096 sectors.
    const std::string dir = testsupport::ScratchDir("region-sparse");
    const std::string path = dir + "/big.img";
    const std::uint64_t sectors = (1ull << 32) + 4096;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(sectors * 512)), 0);
    ::close(fd);
    CImageFileDevice device(path.c_str());
    ASSERT_EQ(device.GetSectorCount(), sectors);

    SectorRegion region;
    ASSERT_EQ(ParseRegion("4294967296", std::to_string(sectors - 1), sectors, &region),
              RegionError::None);
    EXPECT_EQ(region.Size(), 4096u);

    SectorRangeBar bar;
    bar.SetGeometry(12, 500);
    bar.InitRange(device.GetSectorCount());
    EXPECT_EQ(bar.End(), sectors - 1);
    EXPECT_FALSE(bar.SetSelection(region.first, region.last));
    EXPECT_GT(bar.SelectionLeft(), 12 + 490);
    EXPECT_EQ(bar.SelectionRight(), 512);
    bar.BeginDrag(SectorRangeBar::kDragWhole);
    bar.DragBy(-250);
    EXPECT_EQ(bar.End() - bar.Start(), 4095u);
    EXPECT_LT(bar.Start(), 1ull << 32);
    bar.DragBy(1000);
    EXPECT_EQ(bar.End(), sectors - 1);
    ::unlink(path.c_str());
}
