#pragma once
// Data kept in the MFT record of an NTFS file that the file's run list does not describe: the
// resident unnamed $DATA, and the $EFS stream ($LOGGED_UTILITY_STREAM) of an encrypted file.
#include <cstddef>
#include <cstdint>

class CFileNode;
class IStorageDevice;

constexpr std::size_t kNtfsMaxResidentData = 4096;
constexpr std::size_t kNtfsMaxEfsStream = 65536;

// The resident unnamed $DATA of the NTFS file `node`, at most kNtfsMaxResidentData bytes, into
// `buffer`. 1 with *length set; 0 for folders, other properties, an unreadable or invalid
// record, non-resident or longer data.
int ReadResidentFileData(IStorageDevice* device, CFileNode* node, std::uint64_t* length,
                         std::uint8_t* buffer);
// The $EFS stream of the NTFS file `node`, at most kNtfsMaxEfsStream bytes, into `buffer`
// (resident, or read run by run through the node's file-system information). 1 with *length
// set only when the stream's own length field (its first 32-bit word, followed by a zero word)
// equals the attribute's size; else 0.
int ReadAttributeData(std::uint8_t* buffer, CFileNode* node, IStorageDevice* device,
                      std::uint64_t* length);
