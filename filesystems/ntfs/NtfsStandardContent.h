#pragma once
// The fixed contents that NTFS formatting writes into $AttrDef (the attribute definition
// table) and $UpCase (the upper-case table of all 65536 UTF-16 code units). The deep scan
// recognises sectors of these files by plain comparison.
#include <cstdint>

constexpr std::uint32_t kNtfsAttrDefBytes = 2560;
constexpr std::uint32_t kNtfsAttrDefSectors = kNtfsAttrDefBytes / 512;
constexpr std::uint32_t kNtfsUpCaseBytes = 131072;
constexpr std::uint32_t kNtfsUpCaseSectors = kNtfsUpCaseBytes / 512;

// Built once (thread-safe) and kept for the process.
const std::uint8_t* NtfsStandardAttrDef();
const std::uint8_t* NtfsStandardUpCase();
// The sector of the standard $UpCase that begins with the UTF-16 code unit `first`, or -1.
// (Sectors are told apart by their first character: sector n begins with the upper case of
// code unit n x 256, which is not always in block n.)
int NtfsUpCaseSectorStartingWith(std::uint16_t first);
