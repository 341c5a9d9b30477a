#include "recovery/NtfsStreams.h"

// Reading MFT records is not wired in yet: resident and EFS data are reported unreadable.
int ReadResidentFileData(IStorageDevice*, CFileNode*, std::uint64_t* length, std::uint8_t*) {
    if (length)
        *length = 0;
    return 0;
}

int ReadAttributeData(std::uint8_t*, CFileNode*, IStorageDevice*, std::uint64_t* length) {
    if (length)
        *length = 0;
    return 0;
}
