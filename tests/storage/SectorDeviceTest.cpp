#include "platform/DriveLetters.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"
#include "storage/ImageFileDevice.h"
#include "storage/StorageDeviceWithCache.h"
#include "storage/VolumeDevice.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"
#include "tests/support/MemoryDevice.h"

#include <cstring>
#include <gtest/gtest.h>
#include <memory>

using namespace testsupport;

namespace {

// A 1 MiB FAT12 image made by mkfs.fat, plus 3 odd bytes so that the size is not a whole
// number of sectors.
std::string FatImage() {
    return CachedFixture("sector-devices-fat.img", [](const std::string& tmp) {
        if (!RequireTool("mkfs.fat"))
            return false;
        if (!MustRun("mkfs.fat -C -F 12 -n TESTVOL " + ShellQuote(tmp) + " 1024"))
            return false;
        return MustRun("printf 'xyz' >> " + ShellQuote(tmp));
    });
}

std::vector<std::uint8_t> Sectors(const std::vector<std::uint8_t>& bytes, std::uint64_t first,
                                  std::uint64_t count) {
    return std::vector<std::uint8_t>(bytes.begin() + first * kSectorSize,
                                     bytes.begin() + (first + count) * kSectorSize);
}

} // namespace

TEST(ImageFileDevice, ReadsWholeSectorsAndFailsPastTheEnd) {
    const std::string path = FatImage();
    ASSERT_FALSE(path.empty());
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    CImageFileDevice dev(path.c_str());
    EXPECT_EQ(dev.GetSectorCount(), 2048u); // the 3 extra bytes are not a sector
    std::vector<std::uint8_t> buf(4 * kSectorSize);
    ASSERT_EQ(dev.ReadSectors(buf.data(), 0, 1), 1);
    EXPECT_EQ(buf[510], 0x55);
    EXPECT_EQ(buf[511], 0xAA);
    EXPECT_EQ(std::memcmp(buf.data() + 43, "TESTVOL", 7), 0);
    ASSERT_EQ(dev.ReadSectors(buf.data(), 2044, 4), 1);
    EXPECT_EQ(buf, Sectors(bytes, 2044, 4));
    EXPECT_EQ(dev.ReadSectors(buf.data(), 2046, 4), 0); // runs past the end
    EXPECT_EQ(dev.ReadSectors(buf.data(), 2048, 1), 0);
    EXPECT_EQ(dev.ReadSectors(buf.data(), ~std::uint64_t(0), 2), 0);
    EXPECT_EQ(dev.ReadSectors(buf.data(), 0, ~std::uint64_t(0) / 256), 0);
    EXPECT_EQ(dev.Close(), 1);
    EXPECT_EQ(dev.ReadSectors(buf.data(), 0, 1), 0);
    EXPECT_EQ(dev.GetSectorCount(), 0u);
    EXPECT_EQ(dev.Open(), 1);

    for (const char* bad : {"", "/no/such/image.img"}) {
        CImageFileDevice closed(bad);
        EXPECT_EQ(closed.GetSectorCount(), 0u) << bad;
        EXPECT_EQ(closed.ReadSectors(buf.data(), 0, 1), 0) << bad;
    }
    CImageFileDevice none(nullptr);
    EXPECT_EQ(none.Open(), 0);
    std::string tooLong(CImageFileDevice::kMaxImagePath, 'a');
    CImageFileDevice longPath(tooLong.c_str());
    EXPECT_EQ(longPath.GetPath(), "");
}

TEST(DiskDevice, NumberedFromTheDriveTableAndClipped) {
    const std::string image = FatImage();
    ASSERT_FALSE(image.empty());
    const std::vector<std::uint8_t> bytes = ReadFileBytes(image);
    FakeSystemTree t(ScratchDir("disk"));
    t.AddDisk({"sdb", "devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/host6/target6:0:0/6:0:0:0",
               {{"vendor", "  Generic"}, {"model", "Flash  Disk     "}, {"rev", "1.00"}},
               {{"size", "2048"}, {"removable", "1"}}, image, 8, 16});
    t.AddDisk({"sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0",
               {{"model", "NoNode"}}, {{"size", "2048"}}, "", 8, 0});
    t.Install();

    CDiskDevice missingNode(0); // sda has no /dev node
    EXPECT_EQ(missingNode.IsOpen(), 0);
    EXPECT_EQ(missingNode.GetSectorCount(), 0u);

    CDiskDevice disk(1);
    ASSERT_EQ(disk.IsOpen(), 1);
    EXPECT_EQ(disk.GetDiskNumber(), 1);
    EXPECT_EQ(disk.GetKernelName(), "sdb");
    std::vector<std::uint8_t> buf(10 * kSectorSize, 0xEE);
    EXPECT_EQ(disk.ReadSectors(buf.data(), 0, 1), 0); // nothing before GetSectorCount
    ASSERT_EQ(disk.GetSectorCount(), 2048u);
    EXPECT_EQ(disk.GetTracksPerCylinder(), 255u);
    DiskGeometry g;
    ASSERT_EQ(disk.GetDriveGeometry(&g), 1);
    EXPECT_EQ(g.cylinders, 0u); // 2048 sectors are less than one 255 x 63 cylinder
    EXPECT_EQ(g.mediaType, kMediaRemovable);

    // 10 sectors from 4 before the end: 4 delivered, the rest zeroed, result 1.
    ASSERT_EQ(disk.ReadSectors(buf.data(), 2044, 10), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 4 * kSectorSize), Sectors(bytes, 2044, 4));
    EXPECT_TRUE(std::all_of(buf.begin() + 4 * kSectorSize, buf.end(), [](auto b) { return b == 0; }));
    EXPECT_EQ(disk.ReadSectors(buf.data(), 2048, 1), 0);
    EXPECT_EQ(disk.ReadSectors(buf.data(), 5, ~std::uint64_t(0)), 0);

    DiskDescriptor d;
    ASSERT_EQ(disk.QueryDeviceDescriptor(&d), 1);
    EXPECT_EQ(d.busType, 7u);
    EXPECT_STREQ(d.busTypeName, "USB Device");
    EXPECT_STREQ(d.vendor, "Generic");
    EXPECT_STREQ(d.product, "Flash ");
    EXPECT_STREQ(d.productRevision, "1.00");

    for (int n : {-1, 2, 20, 25}) {
        CDiskDevice none(n);
        EXPECT_EQ(none.IsOpen(), 0) << n;
        EXPECT_EQ(none.GetDiskNumber(), (n >= 0 && n <= 20) ? n : -1) << n;
    }
}

TEST(VolumeDevice, ByPathAndByLetterWithItsOwnLength) {
    const std::string image = FatImage();
    ASSERT_FALSE(image.empty());
    const std::vector<std::uint8_t> bytes = ReadFileBytes(image);
    platform::ClearDriveLetters();
    platform::SetDriveLetterPath('e', image);
    CVolumeDevice byLetter('E');
    CVolumeDevice byPath(image);
    for (CVolumeDevice* v : {&byLetter, &byPath}) {
        EXPECT_EQ(v->GetSectorCount(), 2048u);
        std::vector<std::uint8_t> buf(2 * kSectorSize);
        ASSERT_EQ(v->ReadSectors(buf.data(), 100, 2), 1);
        EXPECT_EQ(buf, Sectors(bytes, 100, 2));
        EXPECT_EQ(v->ReadSectors(buf.data(), 2047, 2), 0);
        EXPECT_EQ(v->GetMediaType(), kMediaFixed);
        EXPECT_EQ(v->GetDiskFreeSpace(), 0); // an image file is not mounted
    }
    CVolumeDevice unassigned('Q'), notALetter('1');
    EXPECT_EQ(unassigned.GetSectorCount(), 0u);
    EXPECT_EQ(unassigned.GetMediaType(), 0u);
    EXPECT_EQ(notALetter.Open(), 0);
    platform::ClearDriveLetters();
}

TEST(BasicPartitionDevice, WindowClipsAndZeroesTheTail) {
    MemoryDevice inner(PatternBytes(300 * kSectorSize, 7));
    CBasicPartitionDevice part(&inner, 150, 100);
    EXPECT_EQ(part.GetSectorCount(), 100u);
    EXPECT_EQ(part.GetStartSector(), 150u);
    struct Case {
        std::uint64_t first, count;
        int result;
        std::uint64_t delivered; // sectors expected from the inner device; the rest zero
    } cases[] = {
        {0, 10, 1, 10},   {95, 10, 1, 5}, {99, 1, 1, 1}, {100, 1, 0, 0},
        {0, 101, 0, 0},   {0, 100, 1, 100}, {~std::uint64_t(0), 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first);
        std::vector<std::uint8_t> buf(c.count <= 200 ? c.count * kSectorSize : kSectorSize, 0xEE);
        ASSERT_EQ(part.ReadSectors(buf.data(), c.first, c.count), c.result);
        if (c.result) {
            EXPECT_EQ(std::memcmp(buf.data(), inner.Sector(150 + c.first), c.delivered * kSectorSize), 0);
            EXPECT_TRUE(std::all_of(buf.begin() + c.delivered * kSectorSize, buf.end(),
                                    [](auto b) { return b == 0; }));
        }
    }
    // A failing inner read is passed on, and the tail is still zeroed.
    inner.FailSector(245);
    std::vector<std::uint8_t> buf(10 * kSectorSize, 0xEE);
    EXPECT_EQ(part.ReadSectors(buf.data(), 95, 10), 0);
    EXPECT_TRUE(std::all_of(buf.begin() + 5 * kSectorSize, buf.end(), [](auto b) { return b == 0; }));
    CBasicPartitionDevice nowhere(nullptr, 0, 10);
    EXPECT_EQ(nowhere.ReadSectors(buf.data(), 0, 1), 0);
}

TEST(StorageDeviceWithCache, ServesTheLoadedWindowAndReadsTheRest) {
    MemoryDevice inner(PatternBytes(4500 * kSectorSize, 3));
    CStorageDeviceWithCache cache(&inner);
    EXPECT_EQ(cache.GetSectorsPerWindow(), 1000u);
    EXPECT_EQ(cache.GetSectorCount(), 4500u);
    EXPECT_TRUE(cache.IsWindowInRange(4));
    EXPECT_FALSE(cache.IsWindowInRange(5));
    EXPECT_EQ(cache.LoadCacheWindow(5), 0);
    ASSERT_EQ(cache.LoadCacheWindow(3), 1);
    inner.ClearCalls();

    std::vector<std::uint8_t> buf(40 * kSectorSize);
    // 10 sectors from the window, 10 from the inner device.
    ASSERT_EQ(cache.ReadSectors(buf.data(), 3990, 20), 1);
    EXPECT_EQ(std::memcmp(buf.data(), inner.Sector(3990), 20 * kSectorSize), 0);
    ASSERT_EQ(inner.Calls().size(), 1u);
    EXPECT_EQ(inner.Calls()[0].first, 4000u);
    EXPECT_EQ(inner.Calls()[0].count, 10u);
    inner.ClearCalls();
    // Wholly inside the window: no device read. Before it: straight from the device.
    ASSERT_EQ(cache.ReadSectors(buf.data(), 3000, 40), 1);
    EXPECT_TRUE(inner.Calls().empty());
    ASSERT_EQ(cache.ReadSectors(buf.data(), 2980, 40), 1);
    EXPECT_EQ(std::memcmp(buf.data(), inner.Sector(2980), 40 * kSectorSize), 0);
    EXPECT_EQ(inner.Calls().size(), 2u);

    // Last (short) window: sectors past the device end are never served from the buffer.
    ASSERT_EQ(cache.LoadCacheWindow(4), 1);
    EXPECT_EQ(cache.ReadSectors(buf.data(), 4490, 10), 1);
    EXPECT_EQ(cache.ReadSectors(buf.data(), 4495, 10), 0);

    // A failed load leaves no window: later reads go to the device, never to stale bytes.
    inner.FailSector(1500);
    EXPECT_EQ(cache.LoadCacheWindow(1), 0);
    EXPECT_EQ(cache.GetLoadedWindow(), CStorageDeviceWithCache::kNoWindow);
    std::memset(inner.Sector(4490), 0x5A, kSectorSize);
    ASSERT_EQ(cache.ReadSectors(buf.data(), 4490, 1), 1);
    EXPECT_EQ(buf[0], 0x5A);

    EXPECT_EQ(cache.SetCacheSize(10), 1);
    EXPECT_TRUE(cache.IsWindowInRange(449));
    EXPECT_FALSE(cache.IsWindowInRange(450));
    EXPECT_EQ(cache.SetCacheSize(0), 1);
    EXPECT_FALSE(cache.IsWindowInRange(0));

    CStorageDeviceWithCache empty(nullptr);
    EXPECT_EQ(empty.Open(), 0);
    EXPECT_EQ(empty.LoadCacheWindow(0), 0);
    EXPECT_EQ(empty.ReadSectors(buf.data(), 0, 1), 0);
}

TEST(DiskDescriptor, TrimSpacesAndBusNames) {
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"WDC WD5000  ", "WDC WD5000 "}, {"   WD-ABC", "WD-ABC"}, {"  A  B  ", "A "},
        {"    ", "    "},              {"", ""},               {"One Two", "One Two"},
    };
    for (const Case& c : cases) {
        char text[64];
        std::strcpy(text, c.in);
        EXPECT_STREQ(TrimSpaces(text), c.out) << '"' << c.in << '"';
    }
    EXPECT_EQ(TrimSpaces(nullptr), nullptr);
    EXPECT_STREQ(GetBusTypeName(1), "SCSI Disk Device");
    EXPECT_STREQ(GetBusTypeName(3), "ATA Bus");
    EXPECT_STREQ(GetBusTypeName(7), "USB Device");
    EXPECT_STREQ(GetBusTypeName(8), "RAID Disk Device");
    EXPECT_STREQ(GetBusTypeName(9), "");
    EXPECT_STREQ(GetBusTypeName(0), "");
}
