#pragma once
// The partition layout picture without windows: where the ticked partitions lie on the scanned
// source. Partitions that do not overlap share a band; each band is 80 pixels high and the
// bands stack from the top. The model also holds the frame's caption, its source panel and the
// geometry of the frame and of each block's parts, so that the window (ui/views/wx/
// PartitionLayoutCtrl) only paints what it computes. Sectors are 64-bit throughout; ranges are
// inclusive (a block covers first .. last, last = first + count - 1).
#include "ui/controls/Geometry.h"

#include <cstdint>
#include <string>
#include <vector>

// One partition as the list hands it over. Two descriptors name the same block when first,
// last, file system and rank are equal; the name is not compared.
struct PartitionBlockDesc {
    std::string name;
    std::uint32_t fileSystem = 7;
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0; // inclusive
    double rank = 0.0;

    bool SameBlock(const PartitionBlockDesc& other) const {
        return firstSector == other.firstSector && lastSector == other.lastSector &&
               fileSystem == other.fileSystem && rank == other.rank;
    }
    // last - first + 1 (0 for a reversed range).
    std::uint64_t SectorCount() const { return lastSector >= firstSector ? lastSector - firstSector + 1 : 0; }
    // Its partition overlaps ours when they share at least one sector.
    bool Overlaps(const PartitionBlockDesc& other) const {
        return lastSector >= other.firstSector && other.lastSector >= firstSector;
    }
};

// Receives the blocks of ticked partitions (the layout picture, or a test's recorder).
class IPartitionLayoutTarget {
public:
    virtual ~IPartitionLayoutTarget() = default;
    virtual void AddPartition(const PartitionBlockDesc& block) = 0;
    virtual void RemovePartition(const PartitionBlockDesc& block) = 0;
};

// What the source is (it picks the caption and the panel's picture).
enum LayoutSourceType : std::uint32_t {
    kLayoutSourceDisk = 0,
    kLayoutSourceUsbDisk = 1,
    kLayoutSourceImage = 2,
    kLayoutSourcePartition = 3,
};

struct LayoutSource {
    std::string name;
    std::uint64_t sectorCount = 0;
    std::uint32_t type = kLayoutSourceDisk;
};

struct PartitionBlock {
    PartitionBlockDesc desc;
    uigeo::Rect rect; // view coordinates
};

struct DiskBand {
    uigeo::Rect rect;
    std::uint64_t sectorCount = 0; // the source's size when the band was made
    std::vector<PartitionBlock> blocks;
};

// The parts of one drawn block (view coordinates).
struct PartitionBlockParts {
    uigeo::Rect frame;         // background and one-pixel border
    bool detailed = false;     // false: the block is narrower than 9 pixels, only the frame shows
    uigeo::Rect titleStrip;
    uigeo::Rect body;
    uigeo::Rect icon;          // 20 x 22 at the body's top left + 4, clipped at the body's right
    uigeo::Rect nameText;
    uigeo::Rect detailText;
};

// Where the frame puts its view and how high its source panel is.
struct LayoutFrameGeometry {
    uigeo::Rect view;          // the band view's window rectangle in the frame
    int panelHeight = 80;
};

class CPartitionLayoutModel : public IPartitionLayoutTarget {
public:
    static constexpr int kBandHeight = 80;
    static constexpr int kPanelWidth = 100;
    static constexpr int kCaptionHeight = 20;
    static constexpr int kViewLeft = 99;
    static constexpr int kViewTop = 19;
    // Bitmap resources of the panel's source pictures, by source type 0..3.
    static const int kSourceBitmaps[4];

    // Adds the block to the first band where it overlaps no block, or to a new band at the
    // bottom. Returns true when a band was added (the frame must lay out again).
    bool Add(const PartitionBlockDesc& block);
    // Removes, in each band, its first block equal to `block`; stops at the first band that
    // this empties, removing that band. Returns true when a band was removed.
    bool Remove(const PartitionBlockDesc& block);
    void RemoveAllDisks() { m_bands.clear(); }
    // IPartitionLayoutTarget (Add and Remove without the result).
    void AddPartition(const PartitionBlockDesc& block) override { Add(block); }
    void RemovePartition(const PartitionBlockDesc& block) override { Remove(block); }

    // Stacks the bands in the view's client width [left, right) and positions every block.
    void LayoutDisks(int left, int right);
    int TotalHeight() const { return kBandHeight * static_cast<int>(m_bands.size()); }
    const std::vector<DiskBand>& Bands() const { return m_bands; }
    int BlockCount() const;

    // The frame: caption, panel text and picture, the size every new band takes.
    void SetCaption(const LayoutSource& source);
    const std::string& Caption() const { return m_caption; }
    const std::string& PanelText() const { return m_panelText; }
    // Bitmap resource of the panel, 0 while none was chosen (types above 3 keep the last).
    int PanelBitmap() const { return m_panelBitmap; }
    std::uint64_t DiskSectorCount() const { return m_diskSectors; }

    // The frame's layout for a client size cx x cy.
    LayoutFrameGeometry FrameLayout(int cx, int cy) const;

    // A block's rectangle in a band (Algorithms of the picture): x in proportion to the
    // sectors, shrunk by 3 pixels top and bottom, and left and right when at least 5 wide.
    static uigeo::Rect PositionBlock(const PartitionBlockDesc& block, const uigeo::Rect& band,
                                     std::uint64_t bandSectors);
    static PartitionBlockParts BlockParts(const uigeo::Rect& rect);
    // The block's second text: "<size>, <file system>,\n" "Rank: <rank x 100>%".
    static std::string BlockDetailText(const PartitionBlockDesc& block);

private:
    void Position(DiskBand& band, PartitionBlock& block) const;

    std::vector<DiskBand> m_bands;
    std::uint64_t m_diskSectors = 0;
    int m_left = 0;
    int m_right = 0;
    std::string m_caption;
    std::string m_panelText;
    int m_panelBitmap = 0;
};
