#pragma once
// What every NTFS parser shares: the limits of this reader, attribute and flag numbers, and a
// little-endian store for code that holds a pointer it has already bounded. Every read goes
// through ByteSpan over the bytes' real bounds.
#include "storage/StorageDevice.h"

#include <cstddef>
#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------------------------
// Limits of what this reader supports.
constexpr std::uint32_t kNtfsRecordSize = 1024;         // an MFT record is handled as 2 sectors
constexpr std::uint32_t kNtfsSectorsPerRecord = kNtfsRecordSize / kSectorSize;
constexpr std::uint32_t kNtfsMaxSectorsPerCluster = 128; // 64 KiB clusters
constexpr std::uint32_t kNtfsMaxAttributeListBytes = 256 * 1024;
constexpr std::uint32_t kNtfsMinAttributeListEntry = 0x1A;

// Attribute types.
constexpr std::uint32_t kNtfsAttrStandardInformation = 0x10;
constexpr std::uint32_t kNtfsAttrAttributeList = 0x20;
constexpr std::uint32_t kNtfsAttrFileName = 0x30;
constexpr std::uint32_t kNtfsAttrVolumeName = 0x60;
constexpr std::uint32_t kNtfsAttrData = 0x80;
constexpr std::uint32_t kNtfsAttrIndexRoot = 0x90;
constexpr std::uint32_t kNtfsAttrIndexAllocation = 0xA0;
constexpr std::uint32_t kNtfsAttrLoggedUtilityStream = 0x100;
constexpr std::uint32_t kNtfsAttrEnd = 0xFFFFFFFFu;

// $LogFile pages: 4096 bytes, 8 sectors, each sector ending in the page's update sequence
// number. A restart page (RSTR) keeps that number at 30 and names its client "NTFS" in UTF-16
// at 144; a record page (RCRD) has its update sequence array at 40, 9 entries long (the number,
// then one per sector), so the number sits at 40.
constexpr std::uint32_t kNtfsLogPageSectors = 8;
constexpr std::size_t kNtfsRestartPageUsn = 30;
constexpr std::size_t kNtfsRestartPageClientName = 144;
constexpr std::uint32_t kNtfsRestartClientNameNT = 0x0054004E; // "NT"
constexpr std::uint32_t kNtfsRestartClientNameFS = 0x00530046; // "FS"
constexpr std::size_t kNtfsRecordPageUsaOffsetField = 4;
constexpr std::size_t kNtfsRecordPageUsaCountField = 6;
constexpr std::uint16_t kNtfsRecordPageUsaOffset = 40;
constexpr std::uint16_t kNtfsRecordPageUsaCount = 9;

// Record header flags, attribute flags, $FILE_NAME flags.
constexpr std::uint16_t kNtfsRecordInUse = 0x01;
constexpr std::uint16_t kNtfsRecordDirectory = 0x02;
constexpr std::uint16_t kNtfsAttrFlagCompressed = 0x0001;
constexpr std::uint16_t kNtfsAttrFlagEncrypted = 0x4000;
constexpr std::uint32_t kNtfsFileNameFlagDirectory = 0x10000000u;

// $FILE_NAME namespaces.
constexpr std::uint8_t kNtfsNamespacePosix = 0;
constexpr std::uint8_t kNtfsNamespaceWin32 = 1;
constexpr std::uint8_t kNtfsNamespaceDos = 2;
constexpr std::uint8_t kNtfsNamespaceWin32AndDos = 3;

// The record number of the root folder.
constexpr std::uint64_t kNtfsRootRecord = 5;

// A file reference's record number: its low 48 bits (the high 16 are the sequence number).
constexpr std::uint64_t kNtfsRecordNumberMask = 0x0000FFFFFFFFFFFFull;
constexpr std::uint64_t NtfsRecordNumber(std::uint64_t reference) {
    return reference & kNtfsRecordNumberMask;
}

// ---------------------------------------------------------------------------------------------
// A little-endian store that tolerates any alignment, for callers that checked the bounds
// already.
void NtfsWr16(void* p, std::uint16_t v);

// UTF-16LE (unaligned bytes, `units` code units) to UTF-8; unpaired surrogates become '_'.
std::string NtfsNameToNarrow(const void* utf16le, std::size_t units);
