// Thumbnails of real pictures made by ImageMagick, copied into a FAT image and quick-scanned;
// the temp files of thumbnail loads and previews.
#include "ui/views/wx/ThumbnailLoader.h"

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <wx/image.h>

#include "filesystems/FileProperties.h"
#include "recovery/FileRecovery.h"
#include "storage/ImageFileDevice.h"
#include "tests/support/FixtureKit.h"
#include "tests/ui/views/ViewsFixtures.h"
#include "ui/views/PreviewTempFiles.h"
#include "ui/views/SerialDevice.h"

using namespace viewtests;
namespace fs = std::filesystem;

namespace {

std::size_t FilesIn(const std::string& folder) {
    std::size_t n = 0;
    for (const auto& e : fs::directory_iterator(folder))
        n += e.is_regular_file();
    return n;
}

} // namespace

TEST(Thumbnails, RealPicturesFromFatScan) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    CImageFileDevice raw(image.c_str());
    CSerialDevice device(&raw);
    const struct { const char* name; bool thumb; int w, h; } cases[] = {
        {"wide.png", true, 80, 40},
        {"tall.jpg", true, 40, 80},
        {"small.gif", true, 40, 30},
        {"square.bmp", true, 80, 80},
        {"big.png", true, 80, 40},    // 2.9 Mpx, decoded and scaled
        {"large.bmp", false, 0, 0},   // over 5 MiB: never copied out
        {"claim.png", false, 0, 0},   // the header claims 60000 x 60000
        {"cut.png", false, 0, 0},     // truncated: no thumbnail, no dialog
        {"notes.txt", false, 0, 0},
    };
    const std::string temp = CPreviewTempFiles::GetInstance().Folder();
    ASSERT_FALSE(temp.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CFileNode* node = Child(root.get(), c.name);
        ASSERT_TRUE(node);
        auto pixels = LoadThumbnail(&device, node);
        ASSERT_EQ(pixels != nullptr, c.thumb);
        if (pixels) {
            EXPECT_EQ(pixels->width, c.w);
            EXPECT_EQ(pixels->height, c.h);
            EXPECT_EQ(pixels->rgb.size(), std::size_t(c.w) * c.h * 3);
        }
        EXPECT_EQ(FilesIn(temp), 0u); // every load deletes its own file
    }
    // A picture wx decodes, but above the cap: the probe tells the size, nothing is decoded.
    const std::string claim = temp + "/claim-copy.png";
    {
        CFileNode* node = Child(root.get(), "claim.png");
        RecoverFileJob job;
        job.device = &device;
        job.node = node;
        job.targetPath = claim;
        ASSERT_EQ(RecoverFileExclusive(&job), 1);
    }
    wxImage decoded;
    PictureInfo info;
    EXPECT_FALSE(DecodePictureFile(claim, kPreviewPixelCap, &decoded, &info));
    EXPECT_EQ(info.width, 60000u);
    fs::remove(claim);
}

TEST(Thumbnails, WorkerServesNewestFirstAndStops) {
    const std::string image = FatPictureImage();
    ASSERT_FALSE(image.empty());
    auto root = ScanFat(image);
    ASSERT_TRUE(root);
    CImageFileDevice raw(image.c_str());
    CSerialDevice device(&raw);
    std::vector<CFileNode*> rows;
    for (const char* n : {"wide.png", "tall.jpg", "small.gif", "square.bmp"})
        rows.push_back(Child(root.get(), n));
    CThumbnailQueue queue;
    std::mutex lock;
    std::condition_variable changed;
    std::vector<CFileNode*> order;
    {
        CThumbnailWorker worker(&queue, &device, [&](CFileNode* node) {
            std::lock_guard<std::mutex> hold(lock);
            order.push_back(node);
            changed.notify_all();
        });
        worker.Pause(true);
        queue.Request(rows, 0, 3);
        worker.Pause(false);
        std::unique_lock<std::mutex> wait(lock);
        ASSERT_TRUE(changed.wait_for(wait, std::chrono::seconds(60), [&] { return order.size() == 4; }));
    }
    EXPECT_EQ(order, (std::vector<CFileNode*>{rows[3], rows[2], rows[1], rows[0]}));
    for (CFileNode* n : rows) {
        std::shared_ptr<const ThumbnailPixels> p;
        ASSERT_TRUE(queue.Lookup(n, &p));
        EXPECT_TRUE(p);
    }
}

TEST(PreviewTempFiles, OwnNamesAndOwnDeletes) {
    CPreviewTempFiles& holder = CPreviewTempFiles::GetInstance();
    const std::string folder = holder.Folder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    std::string first, second;
    {
        CTempPreviewFile a;
        CTempPreviewFile b;
        first = a.Path();
        second = b.Path();
        EXPECT_NE(first, second);
        for (const std::string& p : {first, second}) {
            EXPECT_EQ(fs::path(p).filename().string().rfind("~@!", 0), 0u);
            EXPECT_EQ(fs::path(p).extension(), ".doc");
            EXPECT_TRUE(fs::exists(p));
        }
        // A thumbnail load ending beside a preview deletes only its own file.
        a.Release();
        EXPECT_FALSE(fs::exists(first));
        EXPECT_TRUE(fs::exists(second));
    }
    EXPECT_FALSE(fs::exists(second));
    // Loads from several threads at once never share a name.
    std::vector<std::string> names(64);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 8; ++i)
                names[t * 8 + i] = holder.MakeTempPreviewPath();
        });
    for (auto& t : threads)
        t.join();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    for (const auto& n : names)
        DeleteTempPreviewFile(n);
    EXPECT_EQ(FilesIn(folder), 0u);
}
