// Makes (once per build tree) the damaged disk of the Deep Scan Recovery tests and prints its
// fixture folder, for the test that drives the program from a shell script.
#include "tests/support/DeepScanDisk.h"

#include <cstdio>

int main() {
    const testsupport::DeepScanDisk& disk = testsupport::CachedDeepScanDisk();
    if (disk.path.empty())
        return 1;
    std::printf("%s\n", disk.folder.c_str());
    return 0;
}
