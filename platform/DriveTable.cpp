#include "platform/DriveTable.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// The link target of <sys>/block/<name> (relative, as the kernel writes it) or "" when it is
// not a link.
std::string LinkTarget(const fs::path& p) {
    std::error_code ec;
    fs::path t = fs::read_symlink(p, ec);
    return ec ? std::string() : t.string();
}

std::string Canonical(const fs::path& p) {
    std::error_code ec;
    fs::path c = fs::canonical(p, ec);
    return ec ? p.string() : c.string();
}

bool HasComponent(const std::string& path, bool (*match)(const std::string&)) {
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        if (end > pos && match(path.substr(pos, end - pos)))
            return true;
        pos = end + 1;
    }
    return false;
}

std::uint32_t BusFromPath(const std::string& devPath, const std::string& name) {
    if (StartsWith(name, "loop"))
        return kBusFileBackedVirtual;
    if (HasComponent(devPath, [](const std::string& c) { return StartsWith(c, "usb"); }))
        return kBusUsb;
    if (StartsWith(name, "nvme") ||
        HasComponent(devPath, [](const std::string& c) { return StartsWith(c, "nvme"); }))
        return kBusNvme;
    if (StartsWith(name, "mmcblk") ||
        HasComponent(devPath, [](const std::string& c) { return StartsWith(c, "mmc"); }))
        return kBusMmc;
    if (HasComponent(devPath, [](const std::string& c) {
            return c.size() > 3 && StartsWith(c, "ata") && IsDigit(c[3]);
        }))
        return kBusAta;
    if (HasComponent(devPath, [](const std::string& c) { return StartsWith(c, "ieee1394") || StartsWith(c, "fw"); }))
        return kBus1394;
    if (HasComponent(devPath, [](const std::string& c) { return StartsWith(c, "virtio"); }))
        return kBusVirtual;
    if (HasComponent(devPath, [](const std::string& c) {
            return c.size() > 4 && StartsWith(c, "host") && IsDigit(c[4]);
        }))
        return kBusScsi;
    return kBusUnknown;
}

// SCSI unit serial number page (0x80): 4-byte header, then the serial.
std::string SerialFromVpd80(const std::string& page) {
    if (page.size() < 4)
        return "";
    std::size_t len = static_cast<unsigned char>(page[3]);
    len = std::min(len, page.size() - 4);
    std::string s = page.substr(4, len);
    s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
    return s;
}

} // namespace

namespace {

// Natural order of what follows the family prefix: digit runs as numbers, letter runs shorter
// first (so "z" < "aa").
bool RestLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = IsDigit(a[i]), db = IsDigit(b[j]);
        if (da != db)
            return da;
        std::size_t ei = i, ej = j;
        while (ei < a.size() && IsDigit(a[ei]) == da)
            ++ei;
        while (ej < b.size() && IsDigit(b[ej]) == db)
            ++ej;
        std::string ra = a.substr(i, ei - i), rb = b.substr(j, ej - j);
        if (da) {
            ra.erase(0, std::min(ra.find_first_not_of('0'), ra.size()));
            rb.erase(0, std::min(rb.find_first_not_of('0'), rb.size()));
        }
        if (ra.size() != rb.size())
            return ra.size() < rb.size();
        if (ra != rb)
            return ra < rb;
        i = ei;
        j = ej;
    }
    return (a.size() - i) < (b.size() - j);
}

// "sd", "vd", "hd", "xvd" name disks by letters ("sdaa"); other families by their leading
// letters ("nvme", "loop", "mmcblk").
std::string Family(const std::string& name) {
    for (const char* f : {"xvd", "sd", "vd", "hd"})
        if (StartsWith(name, f))
            return f;
    std::size_t n = 0;
    while (n < name.size() && !IsDigit(name[n]))
        ++n;
    return name.substr(0, n);
}

} // namespace

bool DriveNameLess(const std::string& a, const std::string& b) {
    const std::string fa = Family(a), fb = Family(b);
    if (fa != fb)
        return fa < fb;
    const std::string ra = a.substr(fa.size()), rb = b.substr(fb.size());
    if (RestLess(ra, rb))
        return true;
    if (RestLess(rb, ra))
        return false;
    return a < b;
}

std::vector<PhysicalDrive> ListPhysicalDrives(const SystemRoots& roots) {
    std::vector<PhysicalDrive> drives;
    const fs::path blockDir = roots.DisksDir();
    std::error_code ec;
    fs::directory_iterator it(blockDir, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.')
            continue;
        PhysicalDrive d;
        d.name = name;
        d.sysPath = roots.DiskDir(name);
        d.devicePath = (fs::path(roots.dev) / name).string();
        d.loop = StartsWith(name, "loop");
        const std::string target = LinkTarget(it->path());
        if (target.find("/devices/virtual/") != std::string::npos ||
            StartsWith(target, "devices/virtual/")) {
            if (!d.loop || ReadSysValue(d.sysPath + "/loop/backing_file").empty())
                continue;
        } else if (d.loop && ReadSysValue(d.sysPath + "/loop/backing_file").empty()) {
            continue;
        }
        if (StartsWith(name, "sr") || StartsWith(name, "fd") ||
            ReadSysValue(d.sysPath + "/device/type") == "5")
            continue;
        const std::string size = ReadSysValue(d.sysPath + "/size");
        std::uint64_t sectors = 0;
        std::from_chars(size.data(), size.data() + size.size(), sectors);
        d.sysSectors = sectors;
        d.removable = ReadSysValue(d.sysPath + "/removable") == "1";
        drives.push_back(std::move(d));
    }
    std::sort(drives.begin(), drives.end(),
              [](const PhysicalDrive& x, const PhysicalDrive& y) { return DriveNameLess(x.name, y.name); });
    if (drives.size() > static_cast<std::size_t>(kMaxPhysicalDrives))
        drives.resize(kMaxPhysicalDrives);
    return drives;
}

std::vector<PhysicalDrive> ListPhysicalDrives() { return ListPhysicalDrives(GetSystemRoots()); }

bool GetPhysicalDrive(int number, PhysicalDrive& out) {
    if (number < 0 || number >= kMaxPhysicalDrives)
        return false;
    std::vector<PhysicalDrive> drives = ListPhysicalDrives();
    if (static_cast<std::size_t>(number) >= drives.size())
        return false;
    out = drives[static_cast<std::size_t>(number)];
    return true;
}

bool ReadDriveIdentity(const PhysicalDrive& drive, DriveIdentity& out) {
    out = DriveIdentity();
    std::error_code ec;
    if (drive.sysPath.empty() || !fs::exists(drive.sysPath, ec))
        return false;
    const std::string dev = drive.sysPath + "/device";
    out.busType = BusFromPath(Canonical(dev), drive.name);
    out.vendor = ReadSysValue(dev + "/vendor");
    out.product = ReadSysValue(dev + "/model");
    out.revision = ReadSysValue(dev + "/rev");
    if (out.revision.empty())
        out.revision = ReadSysValue(dev + "/firmware_rev");
    out.serial = ReadSysValue(dev + "/serial");
    if (out.serial.empty())
        out.serial = SerialFromVpd80(ReadTextFile(dev + "/vpd_pg80"));
    if (out.serial.empty() && out.busType == kBusUsb) {
        // The USB device's serial lies on an ancestor folder (the one with idVendor).
        fs::path p = Canonical(dev);
        const fs::path sysRoot = Canonical(fs::path(drive.sysPath).parent_path().parent_path());
        for (int depth = 0; depth < 16 && !p.empty() && p != p.root_path(); ++depth) {
            if (fs::exists(p / "idVendor", ec)) {
                out.serial = ReadSysValue((p / "serial").string());
                break;
            }
            if (p.string() == sysRoot.string())
                break;
            p = p.parent_path();
        }
    }
    if (out.product.empty() && drive.loop)
        out.product = ReadSysValue(drive.sysPath + "/loop/backing_file");
    return true;
}

std::string BlockDeviceName(std::uint32_t major, std::uint32_t minor) {
    const fs::path link = GetSystemRoots().BlockDeviceDir(major, minor);
    const std::string uevent = ReadTextFile((link / "uevent").string());
    std::size_t pos = uevent.find("DEVNAME=");
    if (pos != std::string::npos) {
        std::size_t end = uevent.find('\n', pos);
        return uevent.substr(pos + 8, end == std::string::npos ? std::string::npos : end - pos - 8);
    }
    std::string target = LinkTarget(link);
    if (target.empty())
        return "";
    return fs::path(target).filename().string();
}

bool BlockDeviceNumber(const std::string& path, std::uint32_t& major, std::uint32_t& minor) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode))
        return false;
    major = ::major(st.st_rdev);
    minor = ::minor(st.st_rdev);
    return true;
}

} // namespace platform
