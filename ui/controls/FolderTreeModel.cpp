#include "ui/controls/FolderTreeModel.h"

#include "platform/SystemRoots.h"
#include "ui/controls/Formatting.h"
#include "ui/controls/StringTable.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <strings.h>

namespace fs = std::filesystem;

namespace {

bool HasOption(const std::string& options, const char* name) {
    std::stringstream ss(options);
    std::string item;
    while (std::getline(ss, item, ','))
        if (item == name)
            return true;
    return false;
}

bool UnderOrAt(const std::string& path, const char* prefix) {
    const std::string p(prefix);
    return path == p || (path.size() > p.size() && path.compare(0, p.size(), p) == 0 && path[p.size()] == '/');
}

bool IsDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool IsMountShown(const platform::MountEntry& m) {
    static const std::set<std::string> kPseudo = {
        "proc",      "sysfs",    "devtmpfs",  "devpts",  "cgroup",     "cgroup2",    "securityfs",
        "debugfs",   "tracefs",  "pstore",    "bpf",     "autofs",     "hugetlbfs",  "configfs",
        "fusectl",   "binfmt_misc", "mqueue", "nsfs",    "rpc_pipefs", "efivarfs",   "selinuxfs",
        "ramfs",     "fuse.gvfsd-fuse", "fuse.portal", "iso9660", "udf", "squashfs",   "nfsd"};
    if (kPseudo.count(m.fsType))
        return false;
    if (HasOption(m.mountOptions, "ro") || HasOption(m.superOptions, "ro"))
        return false;
    if (UnderOrAt(m.mountPoint, "/proc") || UnderOrAt(m.mountPoint, "/sys") || UnderOrAt(m.mountPoint, "/dev"))
        return false;
    if (m.fsType == "tmpfs" && UnderOrAt(m.mountPoint, "/run"))
        return false;
    return true;
}

bool IsRemovableMount(const platform::MountEntry& m) {
    if (m.major == 0)
        return false;
    const platform::SystemRoots roots = platform::GetSystemRoots();
    std::error_code ec;
    fs::path dev = fs::canonical(roots.BlockDeviceDir(m.major, m.minor), ec);
    if (ec)
        return false;
    if (fs::exists(dev / "partition", ec))
        dev = dev.parent_path();
    return platform::ReadSysValue((dev / "removable").string()) == "1";
}

std::string VolumeText(const platform::MountEntry& m) {
    if (IsRemovableMount(m)) {
        char buf[600];
        std::snprintf(buf, sizeof buf, uistr::LoadUiString(uistr::kRemovableDrive),
                      uifmt::DisplayName(m.mountPoint).c_str());
        return buf;
    }
    return uifmt::DisplayName(m.mountPoint);
}

std::vector<FolderEntry> FolderTreeRoots(const std::string& homeDir, const std::vector<platform::MountEntry>& mounts) {
    std::vector<FolderEntry> out;
    if (!homeDir.empty() && IsDirectory(homeDir))
        out.push_back({uistr::UiString(uistr::kHomeFolder), homeDir});
    bool rootShown = true;
    for (const auto& m : mounts)
        if (m.mountPoint == "/")
            rootShown = IsMountShown(m);
    if (rootShown)
        out.push_back({uistr::UiString(uistr::kFileSystemRoot), "/"});
    std::set<std::string> seen;
    for (const auto& m : mounts) {
        if (m.mountPoint == "/" || m.mountPoint == homeDir || !IsMountShown(m) || !seen.insert(m.mountPoint).second)
            continue;
        if (!IsDirectory(m.mountPoint))
            continue;   // bind-mounted files
        out.push_back({VolumeText(m), m.mountPoint});
    }
    return out;
}

std::vector<FolderEntry> ListSubfolders(const std::string& path, const std::vector<platform::MountEntry>& mounts) {
    std::vector<FolderEntry> out;
    std::error_code ec;
    fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return out;
    std::set<std::string> hidden;
    for (const auto& m : mounts)
        if (!IsMountShown(m))
            hidden.insert(m.mountPoint);
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        std::error_code sec;
        if (!it->is_directory(sec))
            continue;
        const std::string child = it->path().string();
        if (hidden.count(child))
            continue;
        out.push_back({uifmt::DisplayName(it->path().filename().string()), child});
    }
    std::sort(out.begin(), out.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int c = strcasecmp(a.text.c_str(), b.text.c_str());
        return c != 0 ? c < 0 : a.text < b.text;
    });
    return out;
}
