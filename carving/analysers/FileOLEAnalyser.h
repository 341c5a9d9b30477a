#pragma once
// Compound documents (Office 97-2003 and the other formats of structured storage). A match
// records the generic compound-file type; sizing walks the FAT to the file's end and names the
// document kind from the first directory entries (see CompoundFile.h).
#include "carving/analysers/RawFileAnalyser.h"

// The bytes its MatchHeader needs (see SignatureKey).
inline constexpr SignatureKey kFileOLEAnalyserKeys[] = {
    {0, 2, {0xD0, 0xCF}},
};

class FileOLEAnalyser : public IRawFileAnalyser {
public:
    static constexpr int kTypeId = 44;
    // A file whose directory cannot be read is still sized, as a generic compound file, up to
    // this size.
    static constexpr std::uint64_t kUnclassifiedLimit = 0xA00000;

    FileOLEAnalyser();
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    int ComputeFileSize(CRawFileInfo* record, IStorageDevice* device) override;
};

inline constexpr RawFileTypeInfo kFileOLEAnalyserTypes[] = {
    {21, "DOC", "Microsoft Word Document"},
    {35, "MAX", "3d Studio Max file"},
    {39, "MOF", "MOF file"},
    {43, "MPP", "Microsoft Project file"},
    {FileOLEAnalyser::kTypeId, "OLE", "Compound file"},
    {48, "PPT", "Microsoft PowerPoint Presentation file"},
    {49, "PUB", "Microsoft Publisher Document"},
    {53, "QPW", "QuattroPro 7 File"},
    {57, "SHW", "Corel Presentation File"},
    {62, "VSD", "Microsoft Visio Drawing"},
    {64, "WPD", "WordPerfect file"},
    {65, "WPG", "WordPerfect Documents and Graphics v8"},
    {67, "XLS", "Microsoft Excel XML Documents"},
};
inline constexpr AnalyserDescriptor kFileOLEAnalyserDescriptor{
    "FileOLEAnalyser", FileOLEAnalyser::kTypeId, kFileOLEAnalyserTypes, {}, kFileOLEAnalyserKeys,
    &NewAnalyser<FileOLEAnalyser>, kNestsOwnType};

inline FileOLEAnalyser::FileOLEAnalyser() : IRawFileAnalyser(kFileOLEAnalyserDescriptor) {}
