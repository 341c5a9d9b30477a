#include "app/wizard/TargetFolder.h"

#include "platform/DriveTable.h"
#include "platform/SystemRoots.h"
#include "platform/TargetTree.h"
#include "storage/BasicPartitionDevice.h"
#include "storage/DiskDevice.h"
#include "storage/VolumeDevice.h"
#include "ui/views/SerialDevice.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string ParentOf(const std::string& path) {
    if (path.size() <= 1)
        return "/";
    const std::size_t slash = path.find_last_of('/', path.size() - 1);
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

std::string StripTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool HasDotComponent(const std::string& path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "." || part == "..")
            return true;
        start = end + 1;
    }
    return false;
}

bool HasOption(const std::string& options, const char* name) {
    std::size_t start = 0;
    while (start <= options.size()) {
        std::size_t end = options.find(',', start);
        if (end == std::string::npos)
            end = options.size();
        if (options.compare(start, end - start, name) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

// Creates the probe as a new file and removes it, as recovery writes there (platform/TargetTree.h):
// 0, or the errno of the failure. A file of the probe's name that is already there is left alone
// and a numbered name is used instead.
int Probe(const std::string& folder) {
    const std::string base = (folder == "/" ? std::string() : folder) + "/" + kTargetProbeName;
    std::string made = base;
    int fd = platform::TreeCreateFile(made, platform::TreeExisting::Refuse, 0600);
    for (int n = 0; fd < 0 && errno == EEXIST && n < 100; ++n) {
        made = base + "." + std::to_string(::getpid()) + "-" + std::to_string(n);
        fd = platform::TreeCreateFile(made, platform::TreeExisting::Refuse, 0600);
    }
    if (fd < 0)
        return errno ? errno : EIO;
    ::close(fd);
    if (platform::TreeRemoveFile(made) != 0)
        return errno ? errno : EIO;
    return 0;
}

bool ParseDevNumber(const std::string& text, std::uint32_t& major, std::uint32_t& minor) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    char* end = nullptr;
    const unsigned long ma = std::strtoul(text.c_str(), &end, 10);
    if (end != text.c_str() + colon)
        return false;
    const unsigned long mi = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (end == text.c_str() + colon + 1 || ma > UINT32_MAX || mi > UINT32_MAX)
        return false;
    major = static_cast<std::uint32_t>(ma);
    minor = static_cast<std::uint32_t>(mi);
    return true;
}

std::uint64_t ReadNumber(const fs::path& file) {
    const std::string text = platform::ReadSysValue(file.string());
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    return end == text.c_str() ? 0 : v;
}

// The identity of the block folder `folder` (a disk's or a partition's).
DriveIdentity DriveOfBlockFolder(const fs::path& folder) {
    DriveIdentity id;
    std::error_code ec;
    if (!fs::exists(folder / "dev", ec))
        return id;
    if (fs::exists(folder / "partition", ec)) {
        id.partition = true;
        id.firstSector = ReadNumber(folder / "start");
        id.sectorCount = ReadNumber(folder / "size");
        if (!ParseDevNumber(platform::ReadSysValue((folder.parent_path() / "dev").string()), id.diskMajor, id.diskMinor))
            return DriveIdentity{};
    } else if (!ParseDevNumber(platform::ReadSysValue((folder / "dev").string()), id.diskMajor, id.diskMinor)) {
        return DriveIdentity{};
    }
    id.known = true;
    return id;
}

} // namespace

std::string NearestExistingFolder(const std::string& path, int* error) {
    if (error)
        *error = 0;
    if (path.empty() || path[0] != '/')
        return "";
    std::string p = StripTrailingSlashes(path);
    for (int guard = 0; guard < 4096; ++guard) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0)
            return p;
        const int e = errno;
        if (e != ENOENT && e != ENOTDIR) {
            if (error)
                *error = e;
            return p;
        }
        if (p == "/")
            return p;
        p = ParentOf(p);
    }
    return "/";
}

bool IsReadOnlyMount(const platform::MountEntry& mount) {
    return HasOption(mount.mountOptions, "ro") || HasOption(mount.superOptions, "ro");
}

const platform::MountEntry* MountOfPath(const std::string& path, const std::vector<platform::MountEntry>& mounts) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return nullptr;
    std::error_code ec;
    const std::string real = fs::weakly_canonical(path, ec).string();
    const std::string p = ec ? path : real;
    const platform::MountEntry* best = nullptr;
    const platform::MountEntry* bestAny = nullptr;
    for (const auto& m : mounts) {
        const std::string& mp = m.mountPoint;
        const bool prefix = mp == "/" || p == mp || (p.size() > mp.size() && p.compare(0, mp.size(), mp) == 0 && p[mp.size()] == '/');
        if (!prefix)
            continue;
        // Later entries are mounted over earlier ones at the same point.
        if (!bestAny || mp.size() >= bestAny->mountPoint.size())
            bestAny = &m;
        if (m.major == ::major(st.st_dev) && m.minor == ::minor(st.st_dev) && (!best || mp.size() >= best->mountPoint.size()))
            best = &m;
    }
    return best ? best : bestAny;
}

int ValidateTargetFolder(const std::string& path, const std::vector<platform::MountEntry>& mounts) {
    if (path.size() > kMaxTargetPathLength)
        return kTargetTooLong;
    if (path.empty())
        return kTargetEmpty;
    if (path[0] != '/')
        return kTargetNotAbsolute;
    if (HasDotComponent(path))
        return kTargetInvalidName;
    int error = 0;
    const std::string folder = NearestExistingFolder(path, &error);
    if (error == ENOMEDIUM)
        return kTargetNoMedium;
    if (error == EIO)
        return kTargetNotReady;
    if (const platform::MountEntry* mount = MountOfPath(folder, mounts)) {
        if (IsReadOnlyMount(*mount) || mount->fsType == "iso9660" || mount->fsType == "udf")
            return kTargetNotWritable;
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0)
        return errno == ENOMEDIUM ? kTargetNoMedium : errno == EIO ? kTargetNotReady : kTargetNotWritable;
    if (!S_ISDIR(st.st_mode))
        return kTargetInvalidName;  // a file stands where a folder of the path should be
    const int probe = Probe(folder);
    if (probe == ENOMEDIUM)
        return kTargetNoMedium;
    if (probe == EIO)
        return kTargetNotReady;
    return probe == 0 ? kTargetOk : kTargetNotWritable;
}

int ValidateTargetFolder(const std::string& path) { return ValidateTargetFolder(path, platform::ReadMountInfo()); }

int TargetFolderMessageId(int code) {
    if (code == 0)
        return 0;
    return code >= 1 && code <= 12 ? 147 + code : 160;
}

DriveIdentity DriveOfDeviceNumber(std::uint32_t major, std::uint32_t minor) {
    std::error_code ec;
    const fs::path folder = fs::canonical(platform::GetSystemRoots().BlockDeviceDir(major, minor), ec);
    if (ec)
        return DriveIdentity{};
    return DriveOfBlockFolder(folder);
}

DriveIdentity DriveOfBlockName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos)
        return DriveIdentity{};
    const fs::path block = platform::GetSystemRoots().DisksDir();
    std::error_code ec;
    if (fs::exists(block / name / "dev", ec))
        return DriveOfBlockFolder(fs::canonical(block / name, ec));
    for (const auto& disk : fs::directory_iterator(block, ec)) {
        const fs::path part = disk.path() / name;
        if (fs::exists(part / "partition", ec))
            return DriveOfBlockFolder(fs::canonical(part, ec));
    }
    return DriveIdentity{};
}

DriveIdentity DriveOfSourceDevice(IStorageDevice* device) {
    for (int guard = 0; device && guard < 8; ++guard) {
        if (auto* serial = dynamic_cast<CSerialDevice*>(device)) {
            device = serial->Inner();
            continue;
        }
        if (auto* part = dynamic_cast<CBasicPartitionDevice*>(device)) {
            DriveIdentity id = DriveOfSourceDevice(part->GetInnerDevice());
            if (!id.known)
                return id;
            id.firstSector += part->GetStartSector();
            id.sectorCount = part->GetSectorCount();
            id.partition = true;
            return id;
        }
        if (auto* disk = dynamic_cast<CDiskDevice*>(device)) {
            DriveIdentity id = DriveOfBlockName(disk->GetKernelName());
            if (!id.known) {
                std::uint32_t ma = 0, mi = 0;
                if (platform::BlockDeviceNumber(disk->GetDevicePath(), ma, mi))
                    id = DriveOfDeviceNumber(ma, mi);
            }
            return id;
        }
        if (auto* volume = dynamic_cast<CVolumeDevice*>(device)) {
            std::uint32_t ma = 0, mi = 0;
            if (platform::BlockDeviceNumber(volume->GetDevicePath(), ma, mi))
                return DriveOfDeviceNumber(ma, mi);
            return DriveOfBlockName(fs::path(volume->GetDevicePath()).filename().string());
        }
        break;
    }
    return DriveIdentity{};
}

DriveIdentity DriveOfPath(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return DriveIdentity{};
    return DriveOfDeviceNumber(::major(st.st_dev), ::minor(st.st_dev));
}

bool IsSameDrive(const DriveIdentity& target, const DriveIdentity& source) {
    if (!target.known || !source.known)
        return false;
    if (target.diskMajor != source.diskMajor || target.diskMinor != source.diskMinor)
        return false;
    if (!target.partition || !source.partition)
        return true;
    return target.firstSector < source.firstSector + source.sectorCount &&
           source.firstSector < target.firstSector + target.sectorCount;
}

bool IsSourceDrive(const std::string& target, const DriveIdentity& source) {
    const std::string folder = NearestExistingFolder(target);
    return !folder.empty() && IsSameDrive(DriveOfPath(folder), source);
}

TargetSpace TargetSpaceOf(const std::string& target) {
    TargetSpace s;
    const std::string folder = NearestExistingFolder(target);
    struct statvfs v {};
    if (folder.empty() || ::statvfs(folder.c_str(), &v) != 0)
        return s;
    s.freeForCaller = static_cast<std::uint64_t>(v.f_bavail) * v.f_frsize;
    s.total = static_cast<std::uint64_t>(v.f_blocks) * v.f_frsize;
    s.totalFree = static_cast<std::uint64_t>(v.f_bfree) * v.f_frsize;
    return s;
}

std::uint64_t TargetFolderFreeBytes(const std::string& target) { return TargetSpaceOf(target).freeForCaller; }

bool IsNtfsTarget(const std::string& target, const std::vector<platform::MountEntry>& mounts, bool* known) {
    const std::string folder = NearestExistingFolder(target);
    const platform::MountEntry* m = folder.empty() ? nullptr : MountOfPath(folder, mounts);
    if (known)
        *known = m != nullptr;
    if (!m)
        return false;
    return m->fsType == "ntfs" || m->fsType == "ntfs3" || m->fsType == "fuseblk" || m->fsType == "fuseblk.ntfs-3g";
}
