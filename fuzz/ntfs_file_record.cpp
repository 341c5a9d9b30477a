// FILE-record validation and everything that walks a record's attributes. The first 1024 bytes
// are the record; the rest (if any) is both an attribute-list value and the "disk" that
// non-resident attribute lists and extension records are read from.
#include "filesystems/ntfs/NtfsFileProperties.h"
#include "filesystems/ntfs/NtfsStructures.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

class BytesDevice : public IStorageDevice {
public:
    BytesDevice(const std::uint8_t* data, std::size_t size) : m_data(data, data + size) {}
    int ReadSectors(void* buffer, std::uint64_t first, std::uint64_t count) override {
        if (count > 4096 || first > 1u << 20)
            return 0;
        auto* out = static_cast<std::uint8_t*>(buffer);
        for (std::uint64_t i = 0; i < count * kSectorSize; ++i)
            out[i] = m_data.empty() ? 0 : m_data[(first * kSectorSize + i) % m_data.size()];
        return 1;
    }
    std::uint64_t GetSectorCount() override { return 1u << 20; }
    int Open() override { return 1; }
    int Close() override { return 1; }

private:
    std::vector<std::uint8_t> m_data;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> rec(kNtfsRecordSize, 0);
    std::memcpy(rec.data(), data, std::min<std::size_t>(size, rec.size()));
    const std::vector<std::uint8_t> before = rec;
    const std::uint8_t* rest = size > kNtfsRecordSize ? data + kNtfsRecordSize : data;
    const std::size_t restSize = size > kNtfsRecordSize ? size - kNtfsRecordSize : size;
    BytesDevice device(data, size);

    // Shorter spans must be handled too.
    ValidateFileRecord(rec.data(), std::min<std::size_t>(size, rec.size()));
    if (rec != before)
        std::abort();
    ParseAttributeListValue(rest, restSize);
    NtfsExtentList runs;
    DecodeDataRuns(rest, restSize, runs);
    ValidateMappingPairs(rest, restSize);

    if (!ValidateFileRecord(rec.data(), rec.size())) {
        if (rec != before)
            std::abort();
        return 0;
    }
    if (rec != before)
        std::abort();

    NtfsExtensionList ext = ReadAttributeListEntries(rec.data(), rec.size(), 0, 8, &device);
    if (rec != before)
        std::abort();
    NtfsExtentList mft = {{0, 0, 64}};
    ResolveExtensionRecords(ext, 0, 2, 8, 0, mft);

    char label[80];
    std::vector<std::uint8_t> copy = rec;
    ReadNtfsVolumeName(copy.data(), copy.size(), label);

    MftRecordView view;
    if (!view.Attach(rec.data(), rec.size(), 0, &device))
        std::abort(); // it validated above
    view.SetExtensions(ext);
    const std::uint8_t* r = view.Record();
    for (std::uint32_t type : {kNtfsAttrStandardInformation, kNtfsAttrAttributeList, kNtfsAttrFileName,
                               kNtfsAttrVolumeName, kNtfsAttrData, kNtfsAttrIndexAllocation})
        for (int n = 0; n < CountAttributes(r, rec.size(), type) + 1; ++n)
            if (const NtfsAttributeView listed = view.FindBaseAttribute(type, n),
                walked = FindAttribute(r, rec.size(), type, n);
                listed.Data() != walked.Data() || listed.Length() != walked.Length())
                std::abort(); // the attribute list made when attaching must agree with a walk
    NtfsExtentList extents;
    std::uint64_t dataSize = 0;
    CollectDataRuns(r, rec.size(), extents, true, &dataSize);
    std::uint32_t estimate = 0;
    EstimateClusterSizeFromMft(r, rec.size(), &estimate);
    IsSystemFileRecord(r, rec.size());
    HasIndexAllocation(r, rec.size());
    std::int64_t parent = -1;
    std::unique_ptr<CNTFSFileProperties> props(CreateNtfsFilePropertiesFromRecord(&view, 0, &parent));
    if (props) {
        FixNtfsFileSize(props.get(), 8);
        std::unique_ptr<IDataRunList> list(props->GetDataRunList());
    }
    view.Release();
    if (rec != before)
        std::abort();
    return 0;
}
