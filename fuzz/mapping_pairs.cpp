// Decodes arbitrary bytes as mapping pairs: the decoder must stay inside the buffer, and what
// it decodes must survive an encode/decode round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "filesystems/DataRunList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CNoneResidentNTFSDataRunList list;
    DecodeRunListBytes(&list, data, size);

    std::vector<std::uint8_t> encoded = EncodeRunListBytes(list);
    CNoneResidentNTFSDataRunList again;
    DecodeRunListBytes(&again, encoded.data(), encoded.size());
    if (again.Runs() != list.Runs())
        __builtin_trap();

    RunListRecord record;
    record.bytes.assign(data, data + size);
    record.residentOffset = size ? data[0] : 0;
    if (GetRunListRecordSize(&record) > size)
        __builtin_trap();
    std::unique_ptr<IDataRunList> rebuilt(CreateDataRunListFromRecord(&record));
    return 0;
}
