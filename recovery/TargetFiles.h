#pragma once
// Creating files and folders in the target folder of a recovery. Names that come from a scanned
// disk are made safe first; nothing is created outside the folders the caller names, and an
// existing file is never overwritten.
//
// Every creation goes through platform/TargetTree.h: never through a link, and in a folder of the
// desktop user's (an administrator start) with that user's rights, so what is made is theirs.
//
// Results are error codes in the numbering the rest of the system logs and tests (0 success,
// kErrorPathNotFound, kErrorFileExists, ...), mapped from errno.
#include <cstddef>
#include <string>

constexpr int kErrorSuccess = 0;
constexpr int kErrorAccessDenied = 5;
constexpr int kErrorWriteProtect = 19;
constexpr int kErrorGenFailure = 31;
constexpr int kErrorPathNotFound = 3;
constexpr int kErrorFileExists = 80;
constexpr int kErrorInvalidParameter = 87;
constexpr int kErrorDiskFull = 112;
constexpr int kErrorAlreadyExists = 183;
constexpr int kErrorFilenameTooLong = 206;

// Longest name of one path component in bytes.
constexpr std::size_t kMaxNameBytes = 255;

// Maps an errno value of a file or folder creation to the error numbering above. EEXIST gives
// kErrorFileExists for a file and kErrorAlreadyExists for a folder.
int MapCreateErrno(int err, bool folder);

// A name from disk made fit to be one path component: '/', '\', control characters (below
// 0x20) and DEL become '_', "." and ".." and the empty name become underscores, and a name
// longer than `maxBytes` is cut at a UTF-8 character boundary, keeping its extension when that
// is short. Everything else (':' and '*' too) is legal on this system's targets and stays.
std::string MakeSafeFileName(const char* name, std::size_t maxBytes = kMaxNameBytes);

// "folder/name" with exactly one separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// Creates `path` as a new empty file (never replacing an existing one) and closes it.
// Returns 0 or an error code.
int CreateNewFile(const std::string& path);

// Creates the folder `path`. Returns 0 or an error code (kErrorAlreadyExists when taken).
int CreateNewDirectory(const std::string& path);

// Creates every missing folder of `path` as CreateNewDirectory does; what could not be made is
// found missing by the caller's next creation.
void CreateTargetFolders(const std::string& path);

// Creates `name` in `folder`, falling back to "<name>_000" ... "<name>_999" (the number goes
// before the extension) when the name is taken. `path` receives the name created, or the last
// one tried. Returns 0, kErrorPathNotFound when `folder` is empty, kErrorFileExists when every
// number is taken (nothing is created then), or the first other error met.
int MakeNumberedFileName(std::string& path, const std::string& folder, const std::string& name);

// Called after creating the folder `path` failed with `lastError`: while that error is
// kErrorAlreadyExists, tries "<path>_000" to "<path>_999". On success `path` becomes the folder
// created and the result is 1; otherwise 0.
int MakeUniqueDirectory(std::string& path, int lastError);

// Creates the file for `name` (a name from disk, made safe here) in `folder`; when the folder
// path does not exist or is too long the file goes into `outputRoot` instead, and a taken name
// is numbered. `path` receives the file created (or the last name tried). Returns 1 on success;
// 0 after logging the error code.
int CreateTargetFile(std::string& path, const std::string& outputRoot, const std::string& folder,
                     const char* name);
