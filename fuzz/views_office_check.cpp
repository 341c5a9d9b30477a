// The Word/Excel check of the preview: the compound-document identification on any bytes.
#include "carving/analysers/CompoundFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    IdentifyCompoundDocument(ByteSpan(data, size));
    return 0;
}
