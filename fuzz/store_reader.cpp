// Reads arbitrary bytes as a scan-state store file: header, sections, chunks and the records
// the engine keeps in them. Every failure must be a store exception, never a crash.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileSystemSearchController.h"
#include "recovery/RSData.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> copy(data, data + size);
    CRSDataEx store(RSDATA_READ);
    if (!store.OpenBuffer(copy.data(), copy.size()))
        return 0;
    store.CheckHeader();
    try {
        store.GetStage();
        char description[128];
        store.GetDescription(description, sizeof(description));
    } catch (const IRSException&) {
    }
    // Look for the section named by the first section header, and for one that is absent.
    RSGuid wanted{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
    if (size >= kRSHeaderSize + kRSSectionHeaderSize)
        wanted = RSGuid::FromBytes(data + kRSHeaderSize + 16);
    for (int pass = 0; pass < 2; ++pass) {
        try {
            store.OpenSection(wanted);
            store.GetSectionLength();
            CFileSystemNode folder;
            folder.Load(&store);
            LoadRunListRecordField(&store);
            CSearchedPartitionInfo partition;
            partition.Load(&store);
            CFATDataRunList runs;
            runs.Load(&store);
            std::uint8_t rest[1000] = {};
            while (!store.AtSectionEnd())
                store.Read(rest, 1 + rest[0] % sizeof(rest));
            store.Read(rest, 1); // past the end: the store's short read
        } catch (const IRSException&) {
        }
        wanted = RSGuid{};
        store.OpenBuffer(copy.data(), copy.size());
    }
    return 0;
}
