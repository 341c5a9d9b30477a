#include "filesystems/FileProperties.h"

#include "filesystems/DataRunList.h"

IFileProperties::~IFileProperties() = default;

FileDataLayout IFileProperties::GetDataLayout(const IDataRunList* runs) const {
    if (runs && runs->IsResident())
        return FileDataLayout::Resident;
    return (GetAttributes() & FILEATTR_COMPRESSED) ? FileDataLayout::Compressed : FileDataLayout::Runs;
}

void ScanOptions::SetDefaults() {
    UseBootRecords = 1;
    UsePartitionTables = 0;
    ExtensiveVolumesSearch = 0;
    CheckFatDateField = 1;
    CheckFatTimeField = 1;
    FatThirdCheck = 1;
    UseFirstFatCopy = 1;
    UseSecondFatCopy = 1;
    UseNtfsVolumeSize = 1;
    UseMftFile = 1;
    ShowMftOnlyFiles = 0;
    RecoverRawFiles = 1;
    RecoverRawFilesOnly = 0;
    MaxRawFileSize = 50000000;
    RawFileTypes.Clear();
    for (std::uint32_t id = 1; id <= kBuiltInRawTypeCount; ++id)
        RawFileTypes.Add(id);
}

ScanOptions& GetScanOptions() {
    // Built on first use, destroyed at process exit.
    static ScanOptions options;
    return options;
}
