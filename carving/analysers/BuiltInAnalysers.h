#pragma once
// The built-in analysers, in the order in which the registry creates one object of each (the
// order in which the first analyser of a class is asked about a sector). The registry, its
// lookup of the analysers created for a file-type id, and the built-in part of the file-type
// table are all made from this list and the descriptors it names (see AnalyserDescriptor).
//
// Adding a built-in type: write carving/analysers/File<EXT>Analyser.{h,cpp}, with the class's
// descriptor (its type entries, signature keys and factory) in the header, a constructor that
// hands the descriptor to IRawFileAnalyser (which takes the type id and keys from it), and enter
// the descriptor below (its header beside it). Nothing else names the type.
//
// The file-type table (carving/records) only evaluates the type entries at compile time; it
// links nothing of the analysers.
#include "carving/analysers/File3DSAnalyser.h"
#include "carving/analysers/FileMP4Analyser.h"
#include "carving/analysers/FileASFAnalyser.h"
#include "carving/analysers/FileAUAnalyser.h"
#include "carving/analysers/FileBMPAnalyser.h"
#include "carving/analysers/FileCABAnalyser.h"
#include "carving/analysers/FileCHMAnalyser.h"
#include "carving/analysers/FileCPTAnalyser.h"
#include "carving/analysers/FileCRWAnalyser.h"
#include "carving/analysers/FileDBXAnalyser.h"
#include "carving/analysers/FileDWGAnalyser.h"
#include "carving/analysers/FileDXFAnalyser.h"
#include "carving/analysers/FileEMFAnalyser.h"
#include "carving/analysers/FileEPSAnalyser.h"
#include "carving/analysers/FileFH11Analyser.h"
#include "carving/analysers/FileGIFAnalyser.h"
#include "carving/analysers/FileGZAnalyser.h"
#include "carving/analysers/FileHLPAnalyser.h"
#include "carving/analysers/FileHTMAnalyser.h"
#include "carving/analysers/FileICOAnalyser.h"
#include "carving/analysers/FileJPGAnalyser.h"
#include "carving/analysers/FileLowDocAnalyser.h"
#include "carving/analysers/FileLZHAnalyser.h"
#include "carving/analysers/FileMDBAnalyser.h"
#include "carving/analysers/FileMIDAnalyser.h"
#include "carving/analysers/FileMNYAnalyser.h"
#include "carving/analysers/FileMOVAnalyser.h"
#include "carving/analysers/FileMP3Analyser.h"
#include "carving/analysers/FileOLEAnalyser.h"
#include "carving/analysers/FileONEAnalyser.h"
#include "carving/analysers/FilePDFAnalyser.h"
#include "carving/analysers/FilePNGAnalyser.h"
#include "carving/analysers/FilePSDAnalyser.h"
#include "carving/analysers/FilePSPAnalyser.h"
#include "carving/analysers/FilePSTAnalyser.h"
#include "carving/analysers/FileRARAnalyser.h"
#include "carving/analysers/FileRIFFAnalyser.h"
#include "carving/analysers/FileRTFAnalyser.h"
#include "carving/analysers/FileSWFAnalyser.h"
#include "carving/analysers/FileTARAnalyser.h"
#include "carving/analysers/FileTIFAnalyser.h"
#include "carving/analysers/FileTTFAnalyser.h"
#include "carving/analysers/FileUnicodeHTMAnalyser.h"
#include "carving/analysers/FileWMFAnalyser.h"
#include "carving/analysers/FileWPDAnalyser.h"
#include "carving/analysers/FileZIPAnalyser.h"

inline constexpr const AnalyserDescriptor* kBuiltInAnalysers[] = {
    &kFile3DSAnalyserDescriptor,
    &kFile3GPAnalyserDescriptor,
    &kFileASFAnalyserDescriptor,
    &kFileAUAnalyserDescriptor,
    &kFileBMPAnalyserDescriptor,
    &kFileCABAnalyserDescriptor,
    &kFileCHMAnalyserDescriptor,
    &kFileCPTAnalyserDescriptor,
    &kFileCRWAnalyserDescriptor,
    &kFileDBXAnalyserDescriptor,
    &kFileDWGAnalyserDescriptor,
    &kFileDXFAnalyserDescriptor,
    &kFileEMFAnalyserDescriptor,
    &kFileEPSAnalyserDescriptor,
    &kFileFH11AnalyserDescriptor,
    &kFileGIFAnalyserDescriptor,
    &kFileGZAnalyserDescriptor,
    &kFileHLPAnalyserDescriptor,
    &kFileHTMAnalyserDescriptor,
    &kFileICOAnalyserDescriptor,
    &kFileJPGAnalyserDescriptor,
    &kFileLowDocAnalyserDescriptor,
    &kFileLZHAnalyserDescriptor,
    &kFileMDBAnalyserDescriptor,
    &kFileMIDAnalyserDescriptor,
    &kFileMNYAnalyserDescriptor,
    &kFileMOVAnalyserDescriptor,
    &kFileMP3AnalyserDescriptor,
    &kFileMP4AnalyserDescriptor,
    &kFileOLEAnalyserDescriptor,
    &kFileONEAnalyserDescriptor,
    &kFilePDFAnalyserDescriptor,
    &kFilePNGAnalyserDescriptor,
    &kFilePSDAnalyserDescriptor,
    &kFilePSPAnalyserDescriptor,
    &kFilePSTAnalyserDescriptor,
    &kFileRARAnalyserDescriptor,
    &kFileRIFFAnalyserDescriptor,
    &kFileRTFAnalyserDescriptor,
    &kFileSWFAnalyserDescriptor,
    &kFileTARAnalyserDescriptor,
    &kFileTIFAnalyserDescriptor,
    &kFileTTFAnalyserDescriptor,
    &kFileUnicodeHTMAnalyserDescriptor,
    &kFileWMFAnalyserDescriptor,
    &kFileWPDAnalyserDescriptor,
    &kFileZIPAnalyserDescriptor,
};

// Types that no built-in analyser carves: a file of no known type (the custom-type scripts'
// analyser is created for it), and programs.
inline constexpr RawFileTypeInfo kTypesWithoutAnalyser[] = {
    {0, "Raw", "Raw"},
    {20, "DLL", "DLL file"},
    {26, "EXE", "EXE file"},
};
