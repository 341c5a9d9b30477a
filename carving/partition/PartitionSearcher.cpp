#include "carving/partition/PartitionSearcher.h"

#include "platform/WorkerRun.h"

#include <algorithm>

namespace {

// At most this many geometries are added to a search.
constexpr std::size_t kMaxFollowedGeometries = 8;
// The smallest cylinder followed: 16 heads x 63 sectors, the largest geometry of the ATA
// registers and the smallest of the partition tables of classic hard disks.
constexpr std::uint64_t kMinFollowedCylinder = 16 * 63;
// The sectors probed after each partition found: its end and two tracks after it.
constexpr std::uint64_t kFollowedSectors = 2 * CCylinderPartitionSearch::kSectorsPerTrack + 1;

} // namespace

CPartitionSearcher::CPartitionSearcher() : m_buffer(kPartitionProbeSectors * kSectorSize, 0) {}

CPartitionSearcher::~CPartitionSearcher() = default;

void CPartitionSearcher::SetDevice(IStorageDevice* device) {
    m_pDevice = device;
    m_u64SectorCount = device ? device->GetSectorCount() : 0;
}

void CPartitionSearcher::AddPartitionFileSystemController(
    IPartitionFileSystemSearchController* controller) {
    if (controller)
        m_controllers.push_back(controller);
}

void CPartitionSearcher::AddPartitionSearchAlgorithms(int heads) {
    m_algorithms.push_back(std::make_unique<CPartitionSearchAccordingTo255Head>(m_u64SectorCount));
    if (heads == 240)
        m_algorithms.push_back(
            std::make_unique<CPartitionSearchAccordingTo240Head>(m_u64SectorCount));
    m_algorithms.push_back(std::make_unique<CPartitionSearchAccordingTo1MiB>(m_u64SectorCount));
}

std::uint64_t CPartitionSearcher::GetCandidateTotal() const {
    std::uint64_t total = 0;
    for (const auto& algorithm : m_algorithms)
        total += algorithm->GetCandidateCount();
    return total;
}

void CPartitionSearcher::StartPartitionSearch(IPartitionSearchCallback* callback) {
    if (m_started || !callback || !m_pDevice)
        return;
    m_pCallback = callback;
    // Marked before the wait, which runs the caller's event loop: no second search starts
    // meanwhile.
    m_started = true;
    if (!platform::RunWorker(
            m_done, [this] { Run(); }, 0))
        m_started = false; // nothing was searched
}

void CPartitionSearcher::SearchOnThisThread(IPartitionSearchCallback* callback) {
    if (m_started || !callback || !m_pDevice)
        return;
    m_started = true;
    m_pCallback = callback;
    Run();
}

int CPartitionSearcher::ProbeSector(std::uint64_t sector, FoundPartitionInfo* record) {
    if (!m_pDevice || sector >= m_u64SectorCount)
        return 0;
    // The boot sector and the sectors after it in one read; near the end of the disk only
    // what is there.
    std::uint64_t count =
        std::min<std::uint64_t>(kPartitionProbeSectors, m_u64SectorCount - sector);
    if (!m_pDevice->ReadSectors(m_buffer.data(), sector, count)) {
        count = 1;
        if (!m_pDevice->ReadSectors(m_buffer.data(), sector, 1))
            return 0;
    }
    return RecognizeHead(ByteSpan(m_buffer.data(), static_cast<std::size_t>(count * kSectorSize)),
                         sector, record);
}

int CPartitionSearcher::RecognizeHead(ByteSpan head, std::uint64_t sector,
                                      FoundPartitionInfo* record) {
    for (IPartitionFileSystemSearchController* controller : m_controllers)
        if (controller->RecognizePartition(head, sector, record) == 1)
            return 1;
    return 0;
}

bool CPartitionSearcher::ProbedEarlier(std::size_t index, std::uint64_t sector) const {
    for (std::size_t i = 0; i < index; ++i)
        if (m_algorithms[i]->Probes(sector))
            return true;
    return false;
}

bool CPartitionSearcher::ProbeAndReport(std::uint64_t sector) {
    m_followUps.clear();
    // Whatever the previous report left in the work record (a window the callback did not
    // take) goes now.
    m_workRecord.Clear();
    if (ProbeSector(sector, &m_workRecord) == 1)
        ReportFound(ByteSpan(m_buffer.data(), kSectorSize));
    m_workRecord.Clear();
    while (!m_followUps.empty()) {
        const std::uint64_t next = m_followUps.front();
        m_followUps.pop_front();
        if (m_pCallback->IsCancelled()) {
            m_followUps.clear();
            return false;
        }
        m_pCallback->PumpMessages();
        ProbeFollowWindow(next);
    }
    return true;
}

std::uint64_t CPartitionSearcher::ReportFound(ByteSpan boot) {
    const auto type = static_cast<FileSystemType>(m_workRecord.fileSystemType);
    FollowRecordedGeometry(type, boot);
    // Where the partition ends: an NTFS volume leaves its partition's last sector to the
    // backup boot sector.
    const std::uint64_t first = m_workRecord.u64FirstSector;
    const std::uint64_t extent = m_workRecord.u64SectorCount + (type == FILESYSTEM_NTFS);
    m_reported[first] = extent;
    m_pCallback->OnPartitionFound(&m_workRecord);
    if (first < m_u64SectorCount && extent != 0 && extent < m_u64SectorCount - first)
        m_followUps.push_back(first + extent);
    return extent;
}

void CPartitionSearcher::ProbeFollowWindow(std::uint64_t first) {
    if (first >= m_u64SectorCount)
        return;
    // The sectors probed: from `first` up to two tracks after it, on the disk. The track is the
    // classic 63 sectors, the most a FAT or NTFS boot sector records: a file system is rounded
    // to the track it records, and the next partition's extended boot record takes the
    // partitioning tool's track. The read takes the sectors each probe looks at after its own
    // (up to the EXT2/EXT3 superblock).
    const std::uint64_t left = m_u64SectorCount - first;
    const std::uint64_t probes = std::min<std::uint64_t>(kFollowedSectors, left);
    const std::uint64_t count = std::min<std::uint64_t>(probes + kPartitionProbeSectors - 1, left);
    m_window.resize(static_cast<std::size_t>(count * kSectorSize));
    m_windowReadable.assign(static_cast<std::size_t>(count), true);
    if (!m_pDevice->ReadSectors(m_window.data(), first, count)) {
        // A damaged sector somewhere in the window: the rest is still probed.
        for (std::uint64_t i = 0; i < count; ++i)
            m_windowReadable[i] =
                m_pDevice->ReadSectors(m_window.data() + i * kSectorSize, first + i, 1) != 0;
    }

    // A partition found in the window takes the sectors after its start: a boot sector copy
    // inside it (FAT32 keeps one at its sector 6) is no partition of its own.
    std::uint64_t skipUntil = first;
    for (std::uint64_t i = 0; i < probes; ++i) {
        const std::uint64_t sector = first + i;
        if (sector < skipUntil)
            continue;
        if (const auto found = m_reported.find(sector); found != m_reported.end()) {
            // Reported already (by a sequence, or by following another partition).
            skipUntil = found->second > UINT64_MAX - sector ? UINT64_MAX : sector + found->second;
            continue;
        }
        if (!m_windowReadable[i] || m_followedSectors.count(sector) != 0)
            continue;
        std::uint64_t readable = 0;
        while (readable < kPartitionProbeSectors && i + readable < count &&
               m_windowReadable[i + readable])
            ++readable;
        const ByteSpan head(m_window.data() + i * kSectorSize,
                            static_cast<std::size_t>(readable * kSectorSize));
        m_followedSectors.insert(sector);
        m_workRecord.Clear();
        if (RecognizeHead(head, sector, &m_workRecord) == 1) {
            const std::uint64_t extent = ReportFound(head.sub(0, kSectorSize));
            skipUntil = extent > UINT64_MAX - sector ? UINT64_MAX : sector + extent;
        }
        m_workRecord.Clear();
    }
}

void CPartitionSearcher::FollowRecordedGeometry(FileSystemType type, ByteSpan boot) {
    if (type != FILESYSTEM_FAT12 && type != FILESYSTEM_FAT16 && type != FILESYSTEM_FAT32 &&
        type != FILESYSTEM_NTFS)
        return;
    // The BIOS parameter block of FAT and NTFS: sectors per track at 0x18, heads at 0x1A.
    const std::uint32_t sectorsPerTrack = boot.u16(0x18), heads = boot.u16(0x1A);
    if (heads == 0 || heads > 255 || sectorsPerTrack == 0 || sectorsPerTrack > 63 ||
        m_followedGeometries >= kMaxFollowedGeometries)
        return;
    // Smaller cylinders are those of floppies and of file systems made on small image files,
    // not of partition tables; they would have the search read a large share of the disk.
    if (std::uint64_t{heads} * sectorsPerTrack < kMinFollowedCylinder)
        return;
    for (const auto& algorithm : m_algorithms) {
        const auto* cylinders = dynamic_cast<const CCylinderPartitionSearch*>(algorithm.get());
        if (cylinders && cylinders->GetHeads() == heads &&
            cylinders->GetSectorsPerTrack() == sectorsPerTrack)
            return; // searched already
    }
    m_algorithms.push_back(std::make_unique<CPartitionSearchAccordingToGeometry>(
        m_u64SectorCount, heads, sectorsPerTrack));
    ++m_followedGeometries;
    m_pCallback->SetRange(0, GetCandidateTotal());
}

void CPartitionSearcher::Run() {
    struct DoneOnExit {
        std::atomic<bool>& done;
        ~DoneOnExit() { done.store(true, std::memory_order_release); }
    } doneOnExit{m_done};
    if (!m_pDevice || !m_pCallback)
        return;

    for (IPartitionFileSystemSearchController* controller : m_controllers)
        controller->SetDevice(m_pDevice);
    for (IPartitionFileSystemSearchController* controller : m_controllers)
        controller->BeginSearch();
    m_pCallback->SetRange(0, GetCandidateTotal());
    m_pCallback->SetStage(1);

    for (std::size_t a = 0; a < m_algorithms.size(); ++a) {
        IPartitionSearchAlgorithm& algorithm = *m_algorithms[a];
        const bool skipShared = algorithm.SkipsSharedCandidates() != 0;
        const std::uint32_t offset = algorithm.GetTrackOffset();
        const std::uint64_t count = algorithm.GetCandidateCount();
        for (std::uint64_t j = 0; j < count; ++j) {
            if (m_pCallback->IsCancelled())
                return; // the recognisers get no EndSearch
            m_pCallback->StepProgress();
            m_pCallback->PumpMessages();
            const std::uint64_t candidate = algorithm.GetNextCandidate();
            if (!(skipShared && ProbedEarlier(a, candidate)) &&
                m_followedSectors.count(candidate) == 0 && !ProbeAndReport(candidate))
                return;
            // The track after the disk's last cylinder boundary may lie past its end.
            if (offset == 0 || offset >= m_u64SectorCount - candidate)
                continue;
            m_pCallback->PumpMessages();
            const std::uint64_t next = candidate + offset;
            if (!(skipShared && ProbedEarlier(a, next)) && m_followedSectors.count(next) == 0 &&
                !ProbeAndReport(next))
                return;
        }
    }

    for (IPartitionFileSystemSearchController* controller : m_controllers)
        controller->EndSearch();
}
