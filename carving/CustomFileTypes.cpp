#include "carving/CustomFileTypes.h"

#include "carving/records/RawFileTypeTable.h"
#include "logging/Log.h"
#include "platform/AppPaths.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <strings.h>
#include <utility>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trim(const std::string& s) {
    std::size_t a = 0, b = s.size();
    while (a < b && IsBlank(s[a]))
        ++a;
    while (b > a && IsBlank(s[b - 1]))
        --b;
    return s.substr(a, b - a);
}

std::string TrimRight(const std::string& s) {
    std::size_t b = s.size();
    while (b > 0 && IsBlank(s[b - 1]))
        --b;
    return s.substr(0, b);
}

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

std::mutex g_folderLock;
std::string g_folder;

// The rejections logged already: a script is loaded again by every analyser made for a search,
// and its reason is worth one line.
std::mutex g_loggedLock;
std::set<std::pair<std::string, std::string>> g_logged;

void LogRejectedScript(const std::string& path, const std::string& why) {
    {
        std::lock_guard<std::mutex> guard(g_loggedLock);
        if (!g_logged.emplace(path, why).second)
            return;
    }
    LogInfo("Custom file script %s skipped: %s", path.c_str(), why.c_str());
}

void SetWhy(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
}

} // namespace

// ---- CScriptProcess -----------------------------------------------------------------------

bool CScriptProcess::Open(const std::string& path, std::string* why) {
    m_open = false;
    m_lines.clear();
    // A pipe or a device under a script's name is never opened: reading it could wait forever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        SetWhy(why, "it is not a regular file");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        SetWhy(why, "it cannot be read");
        return false;
    }
    in.seekg(0, std::ios::end);
    const std::streamoff length = in.tellg();
    in.seekg(0, std::ios::beg);
    if (length < 0 || !in) {
        SetWhy(why, "it cannot be read");
        return false;
    }
    std::string text(kMaxScriptBytes, '\0');
    in.read(text.data(), kMaxScriptBytes);
    text.resize(static_cast<std::size_t>(in.gcount()));
    SetText(text, static_cast<std::uint64_t>(length));
    return true;
}

void CScriptProcess::SetText(const std::string& raw, std::uint64_t fileLength) {
    m_open = true;
    m_fileLength = fileLength;
    m_lines.clear();
    std::string text = raw.substr(0, std::min<std::size_t>(raw.size(), kMaxScriptBytes));
    const std::size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    // A line ends at CR LF or at a lone LF; a final line end of either kind just ends the last
    // line (editors add one), while an empty line anywhere else is still refused.
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = text.find('\n', start);
        if (lf == std::string::npos) {
            m_lines.push_back(Trim(text.substr(start)));
            break;
        }
        const bool crlf = lf > start && text[lf - 1] == '\r';
        const std::size_t end = crlf ? lf - 1 : lf;
        m_lines.push_back(Trim(text.substr(start, end - start)));
        start = lf + 1;
        if (start == text.size())
            break;
    }
}

bool CScriptProcess::Validate(std::string* why) const {
    if (!m_open) {
        SetWhy(why, "it cannot be read");
        return false;
    }
    if (m_fileLength > kMaxScriptBytes) {
        SetWhy(why, "it is " + std::to_string(m_fileLength) + " bytes, over the limit of " +
                        std::to_string(kMaxScriptBytes));
        return false;
    }
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        const std::string& line = m_lines[i];
        if (ValidateLine(line))
            continue;
        const std::string number = "line " + std::to_string(i + 1);
        const std::string label = GetLabel(line);
        if (line.empty())
            SetWhy(why, number + " is empty");
        else if (EqualNoCase(label, "FILEINFO"))
            SetWhy(why, number + " is not a valid FILEINFO line");
        else if (EqualNoCase(label, "FILESIGN"))
            SetWhy(why, number + " is not a valid FILESIGN line");
        else
            SetWhy(why, number + " is not a FILEINFO, FILESIGN or REMARK line");
        return false;
    }
    return true;
}

std::string CScriptProcess::GetLabel(const std::string& line) {
    const std::size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : TrimRight(line.substr(0, colon));
}

std::string CScriptProcess::GetKeyValue(const std::string& line, const std::string& key) {
    const std::size_t at = line.find(key);
    if (key.empty() || at == std::string::npos)
        return {};
    const std::size_t eq = line.find('=', at);
    if (eq == std::string::npos || TrimRight(line.substr(at, eq - at)) != key)
        return {};
    std::size_t v = eq + 1;
    while (v < line.size() && IsBlank(line[v]))
        ++v;
    if (v < line.size() && line[v] == '"') {
        const std::size_t lastQuote = line.rfind('"');
        return line.substr(v, lastQuote - v + 1);
    }
    std::size_t e = v;
    while (e < line.size() && !IsBlank(line[e]) && line[e] != '\n')
        ++e;
    return line.substr(v, e - v);
}

bool CScriptProcess::ParseHexNumber(const std::string& text, std::uint32_t* value) {
    if (text.size() < 3 || text.size() > 10 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    std::uint32_t v = 0;
    for (std::size_t i = 2; i < text.size(); ++i) {
        const char c = text[i];
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int d = std::isdigit(static_cast<unsigned char>(c))
                          ? c - '0'
                          : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        v = (v << 4) | static_cast<std::uint32_t>(d);
    }
    if (value)
        *value = v;
    return true;
}

bool CScriptProcess::ParseExtName(const std::string& line, std::string* extension) {
    const std::string value = GetKeyValue(line, "EXTNAME");
    if (value.size() <= 1)
        return false;
    std::string ext = value.substr(1, value.size() - 2);
    if (ext.empty() || ext.size() > kMaxCustomExtensionLength)
        return false;
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (extension)
        *extension = ext;
    return true;
}

bool CScriptProcess::ParseFileSign(const std::string& line, CustomSignatureItem* item) {
    CustomSignatureItem out;
    if (!ParseHexNumber(GetKeyValue(line, "OFFSET"), &out.offset) || out.offset > kMaxPatternOffset)
        return false;
    const std::string type = GetKeyValue(line, "TYPE");
    const std::string value = GetKeyValue(line, "VALUE");
    if (EqualNoCase(type, "CHAR")) {
        // A quoted string: the characters between the first and the last quote.
        if (value.size() < 2 || value.front() != '"' || value.back() != '"')
            return false;
        const std::size_t n = value.size() - 2;
        if (n > kMaxPatternLength)
            return false;
        out.length = static_cast<std::uint32_t>(n);
        std::memcpy(out.bytes, value.data() + 1, n);
    } else if (EqualNoCase(type, "BYTE")) {
        if (value.empty() || value.back() == ',')
            return false;
        std::size_t start = 0;
        std::uint32_t count = 0;
        for (;;) {
            const std::size_t comma = value.find(',', start);
            const std::string part =
                value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            std::uint32_t byte = 0;
            if (count == kMaxPatternLength || !ParseHexNumber(part, &byte) || byte > 0xFF)
                return false;
            if (comma == std::string::npos && part.size() > 4)
                return false;
            out.bytes[count++] = static_cast<std::uint8_t>(byte);
            if (comma == std::string::npos)
                break;
            start = comma + 1;
        }
        out.length = count;
    } else {
        return false;
    }
    if (item)
        *item = out;
    return true;
}

bool CScriptProcess::ValidateLine(const std::string& line) {
    const std::string label = GetLabel(line);
    if (EqualNoCase(label, "FILEINFO"))
        return ParseExtName(line, nullptr);
    if (EqualNoCase(label, "FILESIGN"))
        return ParseFileSign(line, nullptr);
    return EqualNoCase(label, "REMARK");
}

// ---- CCustomHeader ------------------------------------------------------------------------

bool CCustomHeader::Load(const std::string& path, std::string* why) {
    CScriptProcess script;
    return script.Open(path, why) && LoadFrom(script, why);
}

bool CCustomHeader::LoadText(const std::string& text, std::string* why) {
    CScriptProcess script;
    script.SetText(text, text.size());
    return LoadFrom(script, why);
}

bool CCustomHeader::LoadFrom(CScriptProcess& script, std::string* why) {
    if (!script.Validate(why))
        return false;
    bool haveInfo = false;
    m_items.clear();
    for (std::size_t i = 0; i < script.GetLineCount(); ++i) {
        const std::string& line = script.GetLine(i);
        const std::string label = CScriptProcess::GetLabel(line);
        if (EqualNoCase(label, "FILEINFO") && !haveInfo) {
            haveInfo = CScriptProcess::ParseExtName(line, &m_extension);
        } else if (EqualNoCase(label, "FILESIGN")) {
            CustomSignatureItem item;
            if (CScriptProcess::ParseFileSign(line, &item))
                m_items.push_back(item);
        }
    }
    if (!haveInfo)
        SetWhy(why, "it has no FILEINFO line");
    return haveInfo;
}

bool CCustomHeader::Match(const std::uint8_t* sector) const {
    if (m_items.empty())
        return false;
    for (const CustomSignatureItem& item : m_items)
        if (std::memcmp(sector + item.offset, item.bytes, item.length) != 0)
            return false;
    return true;
}

// ---- CCustomHeaderManage ------------------------------------------------------------------

bool CCustomHeaderManage::LoadCustomHeaders(const std::string& folder) {
    Clear();
    std::vector<std::string> paths;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".fhs") == 0)
            paths.push_back(it->path().string());
    }
    // The directory's own order is not stable: load in name order.
    std::sort(paths.begin(), paths.end());
    for (const std::string& path : paths) {
        auto header = std::make_unique<CCustomHeader>();
        std::string why;
        if (header->Load(path, &why))
            m_headers.push_back(std::move(header));
        else
            LogRejectedScript(path, why);
    }
    return !paths.empty();
}

const std::string* CCustomHeaderManage::MatchCustomHeader(const std::uint8_t* sector) const {
    for (const auto& h : m_headers)
        if (h->Match(sector))
            return &h->m_extension;
    return nullptr;
}

// ---- CustomFileAnalyser -------------------------------------------------------------------

std::string GetCustomScriptFolder() {
    {
        std::lock_guard<std::mutex> guard(g_folderLock);
        if (!g_folder.empty())
            return g_folder;
    }
    return CustomScriptFolderFor(platform::ProgramDir());
}

std::string CustomScriptFolderFor(const std::string& programDir) {
    return platform::FindResourceDir(programDir) + "CustomFileScript";
}

void SetCustomScriptFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(g_folderLock);
    g_folder = folder;
}

CustomFileAnalyser::CustomFileAnalyser() : CustomFileAnalyser(GetCustomScriptFolder()) {}

CustomFileAnalyser::CustomFileAnalyser(const std::string& folder) : IRawFileAnalyser(-1) {
    m_headers.LoadCustomHeaders(folder);
}

int CustomFileAnalyser::MatchHeader(const std::uint8_t* sector, CRawFileInfo* record) {
    const std::string* ext = m_headers.MatchCustomHeader(sector);
    if (!ext)
        return 0;
    const std::uint32_t id = FindOrAddUserFileType(ext->c_str());
    if (id == 0)
        return 0; // every user-defined id is taken
    record->m_u32FileType = id;
    return 1;
}

bool CustomFileAnalyser::GetSignatureKeys(std::vector<SignatureKey>& keys) const {
    for (const auto& h : m_headers.Headers()) {
        const CustomSignatureItem* keyItem = nullptr;
        for (const CustomSignatureItem& item : h->m_items)
            if (item.length > 0) {
                keyItem = &item;
                break;
            }
        if (!keyItem) {
            if (!h->m_items.empty())
                return false; // only empty patterns: the script matches every sector
            continue;         // no pattern: never matches
        }
        AddSignatureKey(keys, static_cast<std::uint16_t>(keyItem->offset), keyItem->bytes,
                        keyItem->length);
    }
    return true; // no keys at all: no script can match, the analyser is never asked
}

bool CustomFileAnalyser::IsInterchangeableWith(const IRawFileAnalyser& other) const {
    auto* o = dynamic_cast<const CustomFileAnalyser*>(&other);
    if (!o)
        return false;
    const auto& a = m_headers.Headers();
    const auto& b = o->m_headers.Headers();
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i]->m_extension != b[i]->m_extension || a[i]->m_items != b[i]->m_items)
            return false;
    return true;
}
