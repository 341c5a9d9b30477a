#pragma once
// Data kept inside the MFT record of an NTFS file, read for recovery.
#include <cstdint>

class CFileNode;
class IStorageDevice;

// The resident unnamed $DATA of an NTFS file: at most 4096 bytes into `buffer`. 1 with
// *length set, else 0.
int ReadResidentFileData(IStorageDevice* device, CFileNode* node, std::uint64_t* length,
                         std::uint8_t* buffer);
// The $EFS stream of an encrypted NTFS file: at most 65536 bytes into `buffer`. 1 with
// *length set, else 0.
int ReadAttributeData(std::uint8_t* buffer, CFileNode* node, IStorageDevice* device,
                      std::uint64_t* length);
