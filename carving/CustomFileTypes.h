#pragma once
// File types the user teaches the carver with script files: every "*.fhs" file in the folder
// "CustomFileScript" of the program's resource folder names an extension (FILEINFO: EXTNAME =
// "ARC") and lists byte patterns at fixed offsets of a file's first sector (FILESIGN: OFFSET =
// 0x0 TYPE = BYTE VALUE = 0x50,0x4B). A sector that holds every pattern of a script is a file
// of that extension, with a user-defined type id from 1000 upward. Such files cannot be sized.
//
// A script is at most 1024 bytes; lines end at CR LF or at a lone LF and are trimmed of blanks
// and tabs; every line must be a valid FILEINFO, FILESIGN or REMARK line. A final LF ends the
// last line, as a Linux editor writes it; after a final CR LF the script has an empty last line,
// which rejects it. A rejected script is named in the activity log with the reason.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "carving/analysers/RawFileAnalyser.h"

constexpr std::uint32_t kMaxScriptBytes = 1024;
constexpr std::uint32_t kMaxPatternOffset = 496;
constexpr std::uint32_t kMaxPatternLength = 16;
constexpr std::uint32_t kMaxCustomExtensionLength = 16;

struct CustomSignatureItem {
    std::uint32_t offset = 0; // 0 to 496
    std::uint32_t length = 0; // 0 to 16
    std::uint8_t bytes[kMaxPatternLength] = {};
    friend bool operator==(const CustomSignatureItem&, const CustomSignatureItem&) = default;
};

// Reads and checks one script.
class CScriptProcess {
public:
    virtual ~CScriptProcess() = default;
    // Reads the file (at most 1024 bytes are kept; a longer file fails Validate). False, with
    // the reason in `why`, when it is no regular file or cannot be read.
    bool Open(const std::string& path, std::string* why = nullptr);
    // Parses a script held in memory (as Open would have read it).
    void SetText(const std::string& text, std::uint64_t fileLength);
    // The file is open, at most 1024 bytes, and every line is valid; else false, with the reason
    // in `why` (the size, or the first line that fails, counted from 1).
    bool Validate(std::string* why = nullptr) const;

    std::size_t GetLineCount() const { return m_lines.size(); }
    const std::string& GetLine(std::size_t n) const { return m_lines[n]; }

    static std::string GetLabel(const std::string& line);
    static std::string GetKeyValue(const std::string& line, const std::string& key);
    // "0x" or "0X" and 1 to 8 hex digits.
    static bool ParseHexNumber(const std::string& text, std::uint32_t* value);
    static bool ParseExtName(const std::string& line, std::string* extension);
    static bool ParseFileSign(const std::string& line, CustomSignatureItem* item);
    static bool ValidateLine(const std::string& line);

private:
    bool m_open = false;
    std::uint64_t m_fileLength = 0;
    std::vector<std::string> m_lines;
};

class CCustomHeader {
public:
    virtual ~CCustomHeader() = default;
    // Loads a script; false when it cannot be read, is invalid or has no FILEINFO line, with the
    // reason in `why` ("it has no FILEINFO line", "line 3 is empty", ...).
    bool Load(const std::string& path, std::string* why = nullptr);
    bool LoadText(const std::string& text, std::string* why = nullptr);
    // True when the script has patterns and the sector holds every one of them.
    bool Match(const std::uint8_t* sector) const;

    std::string m_extension; // upper-case, 1 to 16 characters
    std::vector<CustomSignatureItem> m_items;

private:
    bool LoadFrom(CScriptProcess& script, std::string* why);
};

class CCustomHeaderManage {
public:
    virtual ~CCustomHeaderManage() = default;
    // Loads every "*.fhs" file of `folder` in name order; true when at least one file matched
    // the mask (loaded or not). Each script that does not load is named in the activity log with
    // the reason, once per process for the same script and reason ("Custom file script <path>
    // skipped: <reason>").
    bool LoadCustomHeaders(const std::string& folder);
    void Clear() { m_headers.clear(); }
    // The extension of the first loaded script, in load order, that matches the sector.
    const std::string* MatchCustomHeader(const std::uint8_t* sector) const;
    const std::vector<std::unique_ptr<CCustomHeader>>& Headers() const { return m_headers; }
    void Add(std::unique_ptr<CCustomHeader> header) { m_headers.push_back(std::move(header)); }

private:
    std::vector<std::unique_ptr<CCustomHeader>> m_headers;
};

// The folder of the user's scripts: "CustomFileScript" in the program's resource folder (beside
// the program in the build folder, <prefix>/share/brulin/ for an installed one), unless a folder
// was set (tests, or a caller that keeps its scripts elsewhere).
std::string GetCustomScriptFolder();
// The same for a program in `programDir` (platform::FindResourceDir decides the resource folder).
std::string CustomScriptFolderFor(const std::string& programDir);
void SetCustomScriptFolder(const std::string& folder); // "" restores the default

class CustomFileAnalyser : public IRawFileAnalyser {
public:
    // Loads the scripts of GetCustomScriptFolder().
    CustomFileAnalyser();
    explicit CustomFileAnalyser(const std::string& folder);

    // A matching script's extension gets (or already has) a user-defined id, written into the
    // record; when every user-defined id is taken by other extensions the sector is no match.
    int MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) override;
    // Script types cannot be sized: 0, size untouched.
    int ComputeFileSize(CRawFileInfo*, IStorageDevice*) override { return 0; }
    bool GetSignatureKeys(std::vector<SignatureKey>& keys) const override;
    bool IsInterchangeableWith(const IRawFileAnalyser& other) const override;

    CCustomHeaderManage& Headers() { return m_headers; }

private:
    CCustomHeaderManage m_headers;
};
