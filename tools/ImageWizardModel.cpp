#include "tools/ImageWizardModel.h"

#include "platform/TargetTree.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace imagetool {

int BannerTextOfPage(int page) {
    switch (page) {
    case kPageSimplePath:
    case kPageAdvancedPath: return kTextDestinationTitle;
    case kPageRegion: return kTextRegionTitle;
    case kPageSummary: return kTextSummaryTitle;
    case kPageRun: return kTextProgressTitle;
    default: return kTextWizardTitle;
    }
}

static bool EndsWithEdi(const std::string& s) {
    return s.size() >= 4 && s.compare(s.size() - 4, 4, ".edi") == 0;
}

std::string FixImageFileName(const std::string& name) {
    if (name.size() < 7 || !EndsWithEdi(name)) return name + ".edi";
    return name;
}

bool AcceptChosenImagePath(const std::string& chosen, std::string* result) {
    std::string path = chosen;
    if (!EndsWithEdi(path)) path += ".edi";
    if (path == "*.edi") path.clear();
    if (path.size() > kMaxChosenPath) {
        result->clear();
        return false;
    }
    *result = path;
    return true;
}

CompressionChoice ChooseCompression(bool enabled, int item) {
    if (!enabled) return {COMPRESSION_NONE, -1};
    static const int kLevels[] = {1, 5, 9};
    const int level = (item >= 0 && item < 3) ? kLevels[item] : 1;
    return {COMPRESSION_ZLIB, level};
}

std::uint32_t ChooseSliceSectors(bool enabled, int item) {
    if (!enabled) return 8388600;
    switch (item) {
    case 1: return 4194304;
    case 2: return 2097152;
    case 3: return 1310720;
    default: return 8388600;
    }
}

const char* LevelName(int level) {
    switch (level) {
    case 1: return "Fastest";
    case 5: return "Normal";
    case 9: return "Maximum";
    case -1: return "None";
    default: return "";
    }
}

std::string SizeText(std::uint64_t sectors) {
    char text[64];
    const std::uint64_t gb = sectors / 1024 / 1024 / 2;
    if (gb != 0)
        std::snprintf(text, sizeof text, "%" PRIu64 "  GB", gb);
    else
        std::snprintf(text, sizeof text, "%" PRIu64 "  MB", sectors / 1024 / 2);
    return text;
}

std::string ShortenPath(const std::string& path, std::size_t keep, const char* tail) {
    if (path.size() <= keep) return path;
    return path.substr(0, keep) + tail;
}

ImagingSummary MakeSummary(const ImagingJob& job) {
    ImagingSummary s;
    s.sourceId = job.sourceName;
    s.sourceSize = SizeText(job.sourceSectors);
    char text[96];
    std::snprintf(text, sizeof text, "%" PRIu64 "---%" PRIu64 "   Sectors", job.region.first,
                  job.region.last);
    s.region = text;
    s.regionSize = SizeText(job.region.Size());
    s.destination = job.destination.size() >= 31 ? job.destination.substr(0, 30) + "......"
                                                  : job.destination;
    // Simple mode writes zlib at its default level, which the summary calls "None".
    s.level = LevelName(job.level);
    return s;
}

std::string FolderOfPath(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

bool SystemFreeSpace(const std::string& folder, std::uint64_t* bytes) {
    struct statvfs st {};
    if (statvfs(folder.c_str(), &st) != 0) return false;
    *bytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return true;
}

bool ProbeWritableFile(const std::string& path) {
    const std::string folder = FolderOfPath(path);
    char name[64];
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::snprintf(name, sizeof name, "/.image-probe-%d-%d.tmp", static_cast<int>(getpid()),
                      attempt);
        const std::string probe = folder + name;
        const int fd = platform::TreeCreateFile(probe, platform::TreeExisting::Refuse, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        char block[512] = {};
        const bool written = ::write(fd, block, sizeof block) == static_cast<ssize_t>(sizeof block);
        ::close(fd);
        platform::TreeRemoveFile(probe);
        return written;
    }
    return false;
}

ImageWizardFlow::NextAction ImageWizardFlow::Next(bool advanced) {
    switch (m_page) {
    case kPageMode:
        m_page = advanced ? kPageAdvancedPath : kPageSimplePath;
        return NextAction::ShowPage;
    case kPageSimplePath:
    case kPageAdvancedPath:
        return NextAction::CheckDestination;
    case kPageRegion:
        m_summaryBack = kPageRegion;
        m_page = kPageSummary;
        return NextAction::ShowPage;
    case kPageSummary:
        m_page = kPageRun;
        return NextAction::RunImaging;
    case kPageRun:
        m_page = kPageSuccess;
        return NextAction::ShowPage;
    default:
        return NextAction::Finish;
    }
}

void ImageWizardFlow::DestinationChecked(bool passed) {
    if (!passed) return;
    if (m_page == kPageSimplePath) {
        m_summaryBack = kPageSimplePath;
        m_page = kPageSummary;
    } else if (m_page == kPageAdvancedPath) {
        m_page = kPageRegion;
    }
}

void ImageWizardFlow::Back() {
    switch (m_page) {
    case kPageSummary: m_page = m_summaryBack; break;
    case kPageSimplePath:
    case kPageAdvancedPath: m_page = kPageMode; break;
    case kPageRegion: m_page = kPageAdvancedPath; break;
    default: break;
    }
}

void ImageWizardFlow::RunFinished(bool success) {
    if (success && m_page == kPageRun) m_page = kPageSuccess;
}

}  // namespace imagetool
