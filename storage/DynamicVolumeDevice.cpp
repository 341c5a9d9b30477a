#include "storage/DynamicVolumeDevice.h"

#include "storage/PartitionTable.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint64_t kMaxFirstSector = 1ull << 63;

// out ^= in, a word at a time (sizes are whole sectors).
void XorInto(std::uint8_t* out, const std::uint8_t* in, std::size_t size) {
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        std::uint64_t a, b;
        std::memcpy(&a, out + i, 8);
        std::memcpy(&b, in + i, 8);
        a ^= b;
        std::memcpy(out + i, &a, 8);
    }
}

// What every dynamic volume shares: the info, the type code, and the checks and clipping at the
// start of a read.
class CDynamicDeviceBase : public IDynamicDevice {
public:
    CDynamicDeviceBase(int typeCode, const DynamicVolumeInfo& info) : m_info(info), m_typeCode(typeCode) {}

    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        const std::uint64_t size = m_info.sectorCount;
        // Counts are checked before the buffer is touched.
        if (!buffer || count > size)
            return 0;
        std::memset(buffer, 0, count * kSectorSize);
        if (first >= kMaxFirstSector || first >= size)
            return 0;
        const std::uint64_t n = std::min(count, size - first);
        return ReadClipped(static_cast<std::uint8_t*>(buffer), first, n);
    }
    std::uint64_t GetSectorCount() override { return m_info.sectorCount; }
    int Open() override { return 1; }
    int Close() override { return 1; }

    int IsSameVolume(IDynamicDevice* other) override {
        if (!other || other->GetVolumeType() != m_typeCode)
            return 0;
        std::vector<const DynamicMember*> mine;
        std::vector<const DynamicMember*> theirs;
        GetMembers(mine);
        other->GetMembers(theirs);
        for (const DynamicMember* m : mine) {
            const bool found = std::any_of(theirs.begin(), theirs.end(),
                                           [m](const DynamicMember* t) { return *t == *m; });
            if (!found)
                return 0;
        }
        return 1;
    }
    int GetVolumeType() override { return m_typeCode; }
    std::uint32_t GetFileSystemType() override { return m_info.fileSystemType; }
    char GetDriveLetter() override {
        return GetDynamicVolumeDriveLetter(m_info.volumeName.c_str(), m_info.groupName.c_str());
    }

protected:
    // Reads n sectors (first + n within the volume) into a zeroed buffer.
    virtual int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) = 0;

    DynamicVolumeInfo m_info;
    int m_typeCode;
};

// Devices made of member extents.
class CMemberVolumeDevice : public CDynamicDeviceBase {
public:
    CMemberVolumeDevice(int typeCode, const DynamicVolumeInfo& info, const std::vector<DynamicMember>& members)
        : CDynamicDeviceBase(typeCode, info), m_members(members) {}
    void GetMembers(std::vector<const DynamicMember*>& members) override {
        for (const DynamicMember& m : m_members)
            members.push_back(&m);
    }

protected:
    // Reads k sectors at `position` of the member (a position in its own extent). Fails for a
    // missing disk, a failed read, or a range outside the extent; a failed range is zeroed.
    static int ReadMember(const DynamicMember& m, std::uint8_t* out, std::uint64_t position, std::uint64_t k) {
        int ok = 0;
        if (m.disk && position <= m.sectorCount && k <= m.sectorCount - position)
            ok = m.disk->ReadSectors(out, m.startSector + position, k);
        if (!ok)
            std::memset(out, 0, k * kSectorSize);
        return ok;
    }

    std::vector<DynamicMember> m_members;
};

class CSimpleVolumeDevice : public CMemberVolumeDevice {
public:
    using CMemberVolumeDevice::CMemberVolumeDevice;

protected:
    int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) override {
        const DynamicMember& m = m_members.front();
        if (!m.disk)
            return 0;
        return m.disk->ReadSectors(out, m.startSector + first, n);
    }
};

class CSpannedVolumeDevice : public CMemberVolumeDevice {
public:
    using CMemberVolumeDevice::CMemberVolumeDevice;

protected:
    int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) override {
        std::uint64_t p = first;
        std::uint64_t r = n;
        int result = 1;
        for (const DynamicMember& m : m_members) {
            if (r == 0)
                break;
            const std::uint64_t o = m.volumeOffset;
            if (p < o || p - o >= m.sectorCount)
                continue;
            const std::uint64_t k = std::min(r, m.sectorCount - (p - o));
            if (!ReadMember(m, out, p - o, k))
                result = 0;
            out += k * kSectorSize;
            p += k;
            r -= k;
        }
        return r == 0 ? result : 0;
    }
};

class CStripedVolumeDevice : public CMemberVolumeDevice {
public:
    using CMemberVolumeDevice::CMemberVolumeDevice;

protected:
    int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) override {
        const std::uint64_t m = m_members.size();
        const std::uint64_t s = kDynamicStripeSectors;
        if (m == 0)
            return 0;
        int result = 1;
        std::uint64_t p = first;
        std::uint64_t remaining = n;
        while (remaining > 0) {
            const std::uint64_t row = p / (s * m);
            const std::uint64_t column = (p / s) % m;
            const std::uint64_t offset = p % s;
            const std::uint64_t k = std::min(s - offset, remaining);
            const DynamicMember& member = m_members[column];
            const std::uint64_t position = row * s + offset;
            if (position < member.volumeOffset || !ReadMember(member, out, position - member.volumeOffset, k)) {
                std::memset(out, 0, k * kSectorSize);
                result = 0;
            }
            out += k * kSectorSize;
            p += k;
            remaining -= k;
        }
        return result;
    }
};

class CRaid5VolumeDevice : public CMemberVolumeDevice {
public:
    using CMemberVolumeDevice::CMemberVolumeDevice;

protected:
    int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) override {
        const std::uint64_t m = m_members.size();
        const std::uint64_t s = kDynamicStripeSectors;
        if (m < 2)
            return 0;
        const std::uint64_t dataPerRow = s * (m - 1);
        std::vector<std::uint8_t> scratch;
        std::uint64_t p = first;
        std::uint64_t remaining = n;
        while (remaining > 0) {
            const std::uint64_t row = p / dataPerRow;
            const std::uint64_t k = (p / s) % (m - 1);
            const std::uint64_t target = (m - (row % m) + k) % m;
            const std::uint64_t offset = p % s;
            const std::uint64_t chunk = std::min(s - offset, remaining);
            const std::uint64_t position = row * s + offset;
            if (!ReadAt(m_members[target], out, position, chunk)) {
                // Rebuild the chunk from the other members: data XOR parity.
                scratch.resize(chunk * kSectorSize);
                std::memset(out, 0, chunk * kSectorSize);
                for (std::uint64_t i = 0; i < m; ++i) {
                    if (i == target)
                        continue;
                    if (!ReadAt(m_members[i], scratch.data(), position, chunk)) {
                        std::memset(out, 0, chunk * kSectorSize);
                        return 0;
                    }
                    XorInto(out, scratch.data(), scratch.size());
                }
            }
            out += chunk * kSectorSize;
            p += chunk;
            remaining -= chunk;
        }
        return 1;
    }

private:
    static int ReadAt(const DynamicMember& member, std::uint8_t* out, std::uint64_t position, std::uint64_t k) {
        if (position < member.volumeOffset)
            return 0;
        return ReadMember(member, out, position - member.volumeOffset, k);
    }
};

class CMirrorVolumeDevice : public CDynamicDeviceBase {
public:
    CMirrorVolumeDevice(const DynamicVolumeInfo& info, std::vector<std::unique_ptr<IDynamicDevice>> plexes)
        : CDynamicDeviceBase(DYNAMIC_VOLUME_MIRROR, info), m_plexes(std::move(plexes)) {}

    void GetMembers(std::vector<const DynamicMember*>& members) override {
        for (auto& plex : m_plexes)
            plex->GetMembers(members);
    }

protected:
    int ReadClipped(std::uint8_t* out, std::uint64_t first, std::uint64_t n) override {
        int result = 1;
        std::uint64_t p = first;
        std::uint64_t remaining = n;
        while (remaining > 0) {
            const std::uint64_t k = std::min<std::uint64_t>(kMirrorChunkSectors, remaining);
            bool done = false;
            for (auto& plex : m_plexes) {
                if (plex->ReadSectors(out, p, k) == 1) {
                    done = true;
                    break;
                }
            }
            if (!done) {
                // Sector by sector: each from the first plex that reads it.
                for (std::uint64_t i = 0; i < k; ++i) {
                    std::uint8_t* sector = out + i * kSectorSize;
                    bool got = false;
                    for (auto& plex : m_plexes) {
                        if (plex->ReadSectors(sector, p + i, 1) == 1) {
                            got = true;
                            break;
                        }
                    }
                    if (!got) {
                        std::memset(sector, 0, kSectorSize);
                        result = 0;
                    }
                }
            }
            out += k * kSectorSize;
            p += k;
            remaining -= k;
        }
        return result;
    }

private:
    std::vector<std::unique_ptr<IDynamicDevice>> m_plexes;
};

std::size_t MembersWithDisk(const std::vector<DynamicMember>& members) {
    return static_cast<std::size_t>(
        std::count_if(members.begin(), members.end(), [](const DynamicMember& m) { return m.disk != nullptr; }));
}

} // namespace

std::unique_ptr<IDynamicDevice> CreateSimpleVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                         const std::vector<DynamicMember>& members) {
    if (MembersWithDisk(members) != 1)
        return nullptr;
    return std::make_unique<CSimpleVolumeDevice>(typeCode, info, members);
}

std::unique_ptr<IDynamicDevice> CreateSpannedVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                          const std::vector<DynamicMember>& members) {
    if (MembersWithDisk(members) == 0)
        return nullptr;
    return std::make_unique<CSpannedVolumeDevice>(typeCode, info, members);
}

std::unique_ptr<IDynamicDevice> CreateStripedVolumeDevice(int typeCode, const DynamicVolumeInfo& info,
                                                          const std::vector<DynamicMember>& members) {
    if (MembersWithDisk(members) == 0)
        return nullptr;
    return std::make_unique<CStripedVolumeDevice>(typeCode, info, members);
}

std::unique_ptr<IDynamicDevice> CreateRaid5VolumeDevice(const DynamicVolumeInfo& info,
                                                        const std::vector<DynamicMember>& members) {
    if (members.size() < 2 || members.size() - MembersWithDisk(members) > 1)
        return nullptr;
    return std::make_unique<CRaid5VolumeDevice>(DYNAMIC_VOLUME_RAID5, info, members);
}

std::unique_ptr<IDynamicDevice> CreateMirrorVolumeDevice(const DynamicVolumeInfo& info,
                                                         std::unique_ptr<IDynamicDevice> a,
                                                         std::unique_ptr<IDynamicDevice> b) {
    std::vector<std::unique_ptr<IDynamicDevice>> plexes;
    if (a)
        plexes.push_back(std::move(a));
    if (b)
        plexes.push_back(std::move(b));
    if (plexes.empty())
        return nullptr;
    return std::make_unique<CMirrorVolumeDevice>(info, std::move(plexes));
}
