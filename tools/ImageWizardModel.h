#pragma once
// The disk-image creation wizard without its windows: the pages and how Next and Back move
// between them, the image name rules, the compression and slice choices, the summary texts and
// the destination check.
#include "storage/BlockCodec.h"
#include "tools/ImageRegion.h"

#include <cstdint>
#include <functional>
#include <string>

namespace imagetool {

// Texts of the wizard (ids of the program's string table).
enum ImageText : int {
    kTextNoSpaceQuestion = 61204,
    kTextNoSpaceAtStart = 61205,
    kTextCalculating = 61206,
    kTextTimerFailed = 61207,
    kTextNameTooLong = 61208,
    kTextWizardTitle = 61209,
    kTextProgressTitle = 61210,
    kTextRegionTitle = 61211,
    kTextSummaryTitle = 61212,
    kTextDestinationTitle = 61213,
    kTextCheckPath = 61214,
    kTextCancelQuestion = 61215,
    kTextFail = 61216,
    kTextSameDeviceCaution = 147,
};

enum ImagePage : int {
    kPageMode = 0,
    kPageSummary = 1,
    kPageSimplePath = 2,
    kPageAdvancedPath = 3,
    kPageRegion = 4,
    kPageRun = 5,
    kPageSuccess = 6,
    kImagePageCount = 7,
};

// The banner text (string id) shown with a page.
int BannerTextOfPage(int page);

// A name of fewer than 7 characters, or one not ending in ".edi" (case-sensitive), gets ".edi".
std::string FixImageFileName(const std::string& name);
// A path from the Save-As dialog: "*.edi" means none, ".edi" is appended when missing.
// False (and an empty result) when the result is longer than kMaxChosenPath.
bool AcceptChosenImagePath(const std::string& chosen, std::string* result);
constexpr std::size_t kMaxChosenPath = 200;
constexpr std::size_t kMaxTypedPath = 208;  // the edit is emptied when its text reaches this

// Compression combo ("Fastest", "Normal", "Maximum").
struct CompressionChoice {
    CompressionType type = COMPRESSION_NONE;
    int level = -1;
};
CompressionChoice ChooseCompression(bool enabled, int item);
// Slice combo ("4G", "2G", "1G", "640MB"), in sectors.
std::uint32_t ChooseSliceSectors(bool enabled, int item);
const char* LevelName(int level);  // "Fastest", "Normal", "Maximum", "None" or ""

// The job the wizard collects.
struct ImagingJob {
    std::string sourceName;
    std::uint64_t sourceSectors = 0;
    SectorRegion region;
    std::string destination;  // the ".edi" path
    CompressionType compression = COMPRESSION_NONE;
    int level = -1;
    std::uint32_t sliceSectors = 8388600;
    std::uint32_t headsPerCylinder = 255;
};

// The summary page's value texts.
struct ImagingSummary {
    std::string sourceId, sourceSize, region, regionSize, destination, level;
};
std::string SizeText(std::uint64_t sectors);  // "N  GB" or "N  MB"
ImagingSummary MakeSummary(const ImagingJob& job);
// A path shortened for a static: the first `keep` characters and `tail` when longer.
std::string ShortenPath(const std::string& path, std::size_t keep, const char* tail);

// Free bytes of the folder that holds `path` (up to its last '/'); the caller injects it.
using FreeSpaceFunction = std::function<bool(const std::string& folder, std::uint64_t* bytes)>;
// statvfs of the folder: f_bavail * f_frsize.
bool SystemFreeSpace(const std::string& folder, std::uint64_t* bytes);
// The folder part of a path ("" + "." when there is no '/').
std::string FolderOfPath(const std::string& path);
// Creates and removes a new probe file in the destination's folder (never opens the
// destination itself); true when the folder takes a 512-byte write.
bool ProbeWritableFile(const std::string& path);

// The page flow. Next and Back answer the page to show; the host acts on the result.
class ImageWizardFlow {
public:
    enum class NextAction {
        ShowPage,          // show Page()
        CheckDestination,  // from a path page: the caller checks, then calls DestinationChecked
        RunImaging,        // from the summary
        Finish,            // success page: close, the open flag is read
    };

    int Page() const { return m_page; }
    bool BackEnabled() const { return m_page != kPageMode && m_page != kPageRun && m_page != kPageSuccess; }
    int Banner() const { return BannerTextOfPage(m_page); }

    // Next on the current page. `advanced` is the mode check of page 0.
    NextAction Next(bool advanced);
    // The path page's check passed (true) or failed (the page stays).
    void DestinationChecked(bool passed);
    // After the region page's Next: the summary comes next.
    void Back();
    // The run ended: success shows the success page; otherwise the run page stays.
    void RunFinished(bool success);

private:
    int m_page = kPageMode;
    int m_summaryBack = kPageSimplePath;
};

}  // namespace imagetool
