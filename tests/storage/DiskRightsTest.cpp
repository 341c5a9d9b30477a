// Disks the user may not read: CollectDisks counts the ones that refuse to open for lack of
// rights apart from the ones that are simply not there, so that the wizard can say why its
// device list is empty. The user is "nobody" in a child process when the tests run as root
// (root reads every file), the tests' own user otherwise.
#include "storage/DeviceList.h"
#include "storage/VolumeEnumeration.h"
#include "tests/support/FakeSystemTree.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testsupport;

namespace {

const char* kAta = "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0";
const char* kAta2 = "devices/pci0000:00/0000:00:1f.2/ata2/host1/target1:0:0/1:0:0:0";
const char* kAta3 = "devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0";

struct Counts {
    int disks = -1;
    int refused = -1;
};

// CollectDisks as an unprivileged user: in a child that drops to nobody when this process is
// root, here otherwise.
Counts CollectAsUser() {
    auto collect = [] {
        DiskList disks;
        Counts c;
        CollectDisks(disks, &c.refused);
        c.disks = static_cast<int>(disks.size());
        DeleteDeviceList(disks);
        return c;
    };
    if (geteuid() != 0)
        return collect();
    const passwd* nobody = getpwnam("nobody");
    if (!nobody)
        return {};
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t pid = fork();
    if (pid == 0) {
        if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
            _exit(255);
        const Counts c = collect();
        _exit(c.disks * 16 + c.refused);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return {};
    return {WEXITSTATUS(status) / 16, WEXITSTATUS(status) % 16};
}

// A fresh folder under /tmp that every user may enter, removed at the end: the child reads the
// system tree and the disks there as nobody, who may not reach the build folder (a checkout in
// root's own 0700 home).
struct OpenScratch {
    std::string dir;
    OpenScratch() {
        char tmpl[] = "/tmp/brulin-disk-rights-XXXXXX";
        if (mkdtemp(tmpl) && chmod(tmpl, 0755) == 0)
            dir = tmpl;
    }
    ~OpenScratch() {
        std::error_code ec;
        if (!dir.empty())
            std::filesystem::remove_all(dir, ec);
    }
};

std::string ImageFile(const std::string& dir, const std::string& name, mode_t mode) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(64 * 1024, '\0');
    chmod(path.c_str(), mode);
    return path;
}

} // namespace

TEST(DiskRights, DisksThatRefuseTheUserAreCountedApartFromMissingOnes) {
    struct Case {
        const char* name;
        bool readable;  // sda: a disk the user may read
        bool refused;   // sdb: a disk only root may read
        bool missing;   // sdc: listed by the system, no device node
        int disks, refused_;
    };
    const Case cases[] = {
        {"only a refused disk", false, true, false, 0, 1},
        {"a refused disk and a missing one", false, true, true, 0, 1},
        {"only a missing disk", false, false, true, 0, 0},
        {"a readable disk beside a refused one", true, true, false, 1, 1},
        {"no disk at all", false, false, false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const OpenScratch scratch;
        ASSERT_FALSE(scratch.dir.empty());
        const std::string& dir = scratch.dir;
        FakeSystemTree tree(dir + "/root");
        if (c.readable)
            tree.AddDisk({"sda", kAta, {{"model", "Readable"}}, {{"size", "128"}}, ImageFile(dir, "a.img", 0644), 8, 0});
        if (c.refused)
            tree.AddDisk({"sdb", kAta2, {{"model", "RootOnly"}}, {{"size", "128"}},
                          ImageFile(dir, "b.img", geteuid() == 0 ? 0600 : 0000), 8, 16});
        if (c.missing)
            tree.AddDisk({"sdc", kAta3, {{"model", "Gone"}}, {{"size", "128"}}, "", 8, 32});
        tree.Install();
        const Counts got = CollectAsUser();
        tree.Uninstall();
        EXPECT_EQ(c.disks, got.disks);
        EXPECT_EQ(c.refused_, got.refused);
    }
}
