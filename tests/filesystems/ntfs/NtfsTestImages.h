#pragma once
// The NTFS images the tests of this folder share (built once per build tree).
#include <cstdint>
#include <string>
#include <vector>

// A 32 MiB volume (4 KiB clusters) labelled kBasicNtfsLabel holding:
//   /readme.txt (resident, 100 bytes)      /docs/a.bin (50000)   /docs/b.bin (9000)
//   /docs/caf\u00e9.txt (3000)             /docs/sub/c.bin (20000)
//   /many/f000000 ... f000399 (100 bytes each, an index in INDX blocks)
//   deleted: /docs/gone.bin (30000), /trash/t1.bin (12000), /trash/t2.bin (7000), /trash/
inline constexpr const char* kBasicNtfsLabel = "BrulinBasic";
std::string BasicNtfsImage();
// Bytes of the files of the basic image by path (PatternBytes with a seed per file).
std::vector<std::uint8_t> BasicNtfsContent(const std::string& path);

// A 32 MiB volume holding kFragmentedName (kFragmentedSize bytes in one-cluster fragments, with
// an $ATTRIBUTE_LIST and extension records).
inline constexpr const char* kFragmentedName = "frag.bin";
inline constexpr std::uint64_t kFragmentedSize = 2000000;
std::string FragmentedNtfsImage();
std::vector<std::uint8_t> FragmentedContent();

// A 16 MiB volume made with mkntfs -C holding /packed.txt (compressible text, 40000 bytes).
std::string CompressedNtfsImage();
std::vector<std::uint8_t> CompressedContent();
