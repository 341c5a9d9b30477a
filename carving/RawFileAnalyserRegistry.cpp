#include "carving/RawFileAnalyserRegistry.h"

#include "filesystems/FileProperties.h"

#include <cstring>

// The factories of the registered classes (defined beside each class).
#define BRULIN_ANALYSER(Class) IRawFileAnalyser* CreateAnalyser_##Class();
#include "carving/RegisteredAnalysers.def"
#undef BRULIN_ANALYSER

namespace {

struct Factory {
    const char* name;
    IRawFileAnalyser* (*create)();
};

const Factory kFactories[] = {
#define BRULIN_ANALYSER(Class) {#Class, &CreateAnalyser_##Class},
#include "carving/RegisteredAnalysers.def"
#undef BRULIN_ANALYSER
};

// The order in which CreateAllRawFileAnalysers creates one object of every class.
const char* const kAllClassesInOrder[] = {
    "File3DSAnalyser",  "File3GPAnalyser",  "FileASFAnalyser",  "FileAUAnalyser",
    "FileBMPAnalyser",  "FileCABAnalyser",  "FileCHMAnalyser",  "FileCPTAnalyser",
    "FileCRWAnalyser",  "FileDBXAnalyser",  "FileDWGAnalyser",  "FileDXFAnalyser",
    "FileEMFAnalyser",  "FileEPSAnalyser",  "FileFH11Analyser", "FileGIFAnalyser",
    "FileGZAnalyser",   "FileHLPAnalyser",  "FileHTMAnalyser",  "FileICOAnalyser",
    "FileJPGAnalyser",  "FileLowDocAnalyser", "FileLZHAnalyser", "FileMDBAnalyser",
    "FileMIDAnalyser",  "FileMNYAnalyser",  "FileMOVAnalyser",  "FileMP3Analyser",
    "FileMP4Analyser",  "FileOLEAnalyser",  "FileONEAnalyser",  "FilePDFAnalyser",
    "FilePNGAnalyser",  "FilePSDAnalyser",  "FilePSPAnalyser",  "FilePSTAnalyser",
    "FileRARAnalyser",  "FileRIFFAnalyser", "FileRTFAnalyser",  "FileSWFAnalyser",
    "FileTARAnalyser",  "FileTIFAnalyser",  "FileTTFAnalyser",  "FileUnicodeHTMAnalyser",
    "FileWMFAnalyser",  "FileWPDAnalyser",  "FileZIPAnalyser",  "CustomFileAnalyser",
};

// The classes created for each built-in id, in order (ids 20 and 26 have none).
struct IdClasses {
    const char* first;
    const char* second;
};
const IdClasses kClassesById[kBuiltInRawTypeCount + 1] = {
    {nullptr, nullptr},                          // 0: not built in
    {"File3DSAnalyser", nullptr},                // 1 3DS
    {"File3GPAnalyser", nullptr},                // 2 3GP
    {"FileONEAnalyser", nullptr},                // 3 ADP
    {"FileRIFFAnalyser", nullptr},               // 4 ANI
    {"FilePDFAnalyser", nullptr},                // 5 AI
    {"FileASFAnalyser", nullptr},                // 6 ASF
    {"FileAUAnalyser", nullptr},                 // 7 AU
    {"FileRIFFAnalyser", nullptr},               // 8 AVI
    {"FileBMPAnalyser", nullptr},                // 9 BMP
    {"FileCABAnalyser", nullptr},                // 10 CAB
    {"FileRIFFAnalyser", nullptr},               // 11 CDR
    {"FileCHMAnalyser", nullptr},                // 12 CHM
    {"FileRIFFAnalyser", nullptr},               // 13 CLK
    {"FileRIFFAnalyser", nullptr},               // 14 CMX
    {"FileCPTAnalyser", nullptr},                // 15 CPT
    {"FileCRWAnalyser", nullptr},                // 16 CRW
    {"FileRIFFAnalyser", nullptr},               // 17 CSL
    {"FileICOAnalyser", nullptr},                // 18 CUR
    {"FileDBXAnalyser", nullptr},                // 19 DBX
    {nullptr, nullptr},                          // 20 DLL
    {"FileOLEAnalyser", "FileLowDocAnalyser"},   // 21 DOC
    {"FileDWGAnalyser", nullptr},                // 22 DWG
    {"FileDXFAnalyser", nullptr},                // 23 DXF
    {"FileEMFAnalyser", nullptr},                // 24 EMF
    {"FileEPSAnalyser", nullptr},                // 25 EPS
    {nullptr, nullptr},                          // 26 EXE
    {"FileFH11Analyser", nullptr},               // 27 FH11
    {"FileGIFAnalyser", nullptr},                // 28 GIF
    {"FileGZAnalyser", nullptr},                 // 29 GZ
    {"FileHLPAnalyser", nullptr},                // 30 HLP
    {"FileHTMAnalyser", "FileUnicodeHTMAnalyser"}, // 31 HTM
    {"FileICOAnalyser", nullptr},                // 32 ICO
    {"FileJPGAnalyser", nullptr},                // 33 JPG
    {"FileLZHAnalyser", nullptr},                // 34 LZH
    {"FileOLEAnalyser", nullptr},                // 35 MAX
    {"FileMIDAnalyser", nullptr},                // 36 MID
    {"FileMDBAnalyser", nullptr},                // 37 MDB
    {"FileMNYAnalyser", nullptr},                // 38 MNY
    {"FileOLEAnalyser", nullptr},                // 39 MOF
    {"FileMOVAnalyser", nullptr},                // 40 MOV
    {"FileMP3Analyser", nullptr},                // 41 MP3
    {"FileMP4Analyser", nullptr},                // 42 MP4
    {"FileOLEAnalyser", nullptr},                // 43 MPP
    {"FileOLEAnalyser", nullptr},                // 44 OLE
    {"FileONEAnalyser", nullptr},                // 45 ONE
    {"FilePDFAnalyser", nullptr},                // 46 PDF
    {"FilePNGAnalyser", nullptr},                // 47 PNG
    {"FileOLEAnalyser", nullptr},                // 48 PPT
    {"FileOLEAnalyser", nullptr},                // 49 PUB
    {"FilePSDAnalyser", nullptr},                // 50 PSD
    {"FilePSPAnalyser", nullptr},                // 51 PSP
    {"FilePSTAnalyser", nullptr},                // 52 PST
    {"FileOLEAnalyser", nullptr},                // 53 QPW
    {"FileRARAnalyser", nullptr},                // 54 RAR
    {"FileRIFFAnalyser", nullptr},               // 55 RIFF
    {"FileRTFAnalyser", nullptr},                // 56 RTF
    {"FileOLEAnalyser", "FileWPDAnalyser"},      // 57 SHW
    {"FileSWFAnalyser", nullptr},                // 58 SWF
    {"FileTARAnalyser", nullptr},                // 59 TAR
    {"FileTIFAnalyser", nullptr},                // 60 TIF
    {"FileTTFAnalyser", nullptr},                // 61 TTF
    {"FileOLEAnalyser", nullptr},                // 62 VSD
    {"FileRIFFAnalyser", nullptr},               // 63 WAV
    {"FileOLEAnalyser", "FileWPDAnalyser"},      // 64 WPD
    {"FileOLEAnalyser", "FileWPDAnalyser"},      // 65 WPG
    {"FileWMFAnalyser", nullptr},                // 66 WMF
    {"FileOLEAnalyser", nullptr},                // 67 XLS
    {"FileZIPAnalyser", nullptr},                // 68 ZIP
};

void AppendByName(RawFileAnalyserList* list, const char* name) {
    if (name)
        list->Append(CreateAnalyserByName(name));
}

} // namespace

IRawFileAnalyser* RawFileAnalyserList::FindByTypeId(std::uint32_t typeId) const {
    for (const auto& a : m_items)
        if ((static_cast<std::uint32_t>(a->GetTypeId()) & 0xFFFF) == (typeId & 0xFFFF))
            return a.get();
    return nullptr;
}

std::unique_ptr<IRawFileAnalyser> CreateAnalyserByName(const char* className) {
    if (!className)
        return nullptr;
    for (const Factory& f : kFactories)
        if (std::strcmp(f.name, className) == 0)
            return std::unique_ptr<IRawFileAnalyser>(f.create());
    return nullptr;
}

std::vector<const char*> GetRegisteredAnalyserNames() {
    std::vector<const char*> names;
    for (const Factory& f : kFactories)
        names.push_back(f.name);
    return names;
}

RawFileAnalyserList* GetRawFileAnalysers() {
    static RawFileAnalyserList* registry = [] {
        static RawFileAnalyserList list;
        CreateAllRawFileAnalysers(&list);
        return &list;
    }();
    return registry;
}

void CreateAllRawFileAnalysers(RawFileAnalyserList* list) {
    if (!list)
        return;
    for (const char* name : kAllClassesInOrder)
        AppendByName(list, name);
}

void CreateRawFileAnalyser(std::uint32_t id, RawFileAnalyserList* list) {
    if (!list)
        return;
    if (id >= 1 && id <= kBuiltInRawTypeCount) {
        AppendByName(list, kClassesById[id].first);
        AppendByName(list, kClassesById[id].second);
        return;
    }
    AppendByName(list, "CustomFileAnalyser");
}

void AddRawFileAnalysersForTypes(RawFileAnalyserList* list, const RawTypeList* types) {
    if (!list || !types)
        return;
    for (std::uint32_t id : types->Ids())
        CreateRawFileAnalyser(id, list);
}

void SelectRawFileAnalysers(RawFileAnalyserList* list, const RawTypeList* types) {
    if (!list)
        return;
    list->Clear();
    AddRawFileAnalysersForTypes(list, types);
}

int MatchSectorByWalk(const RawFileAnalyserList& list, const std::uint8_t* sector,
                      CRawFileInfo* record) {
    for (std::size_t i = 0; i < list.Size(); ++i) {
        record->Reset();
        try {
            if (list.At(i)->MatchHeader(sector, record))
                return static_cast<int>(i);
        } catch (...) {
        }
    }
    record->Reset();
    return -1;
}
