#include "platform/FileTypeMap.h"

#include "platform/AppPaths.h"

#include <cctype>
#include <fstream>
#include <set>
#include <sstream>
#include <sys/stat.h>

namespace {

std::string WithSlash(std::string dir) {
    if (!dir.empty() && dir.back() != '/')
        dir += '/';
    return dir;
}

// Replaces the five predefined XML entities and numeric character references below 0x80.
std::string XmlUnescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '&') {
            out += s[i];
            continue;
        }
        const auto semi = s.find(';', i);
        if (semi == std::string::npos || semi - i > 8) {
            out += s[i];
            continue;
        }
        const std::string ent = s.substr(i + 1, semi - i - 1);
        if (ent == "amp") out += '&';
        else if (ent == "lt") out += '<';
        else if (ent == "gt") out += '>';
        else if (ent == "quot") out += '"';
        else if (ent == "apos") out += '\'';
        else if (ent.size() > 1 && ent[0] == '#') {
            long v = ent[1] == 'x' ? std::strtol(ent.c_str() + 2, nullptr, 16) : std::strtol(ent.c_str() + 1, nullptr, 10);
            if (v > 0 && v < 0x80) out += static_cast<char>(v);
        } else {
            out += s.substr(i, semi - i + 1);
        }
        i = semi;
    }
    return out;
}

bool ValidMimeType(const std::string& t) {
    const auto slash = t.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 == t.size() || t.find('/', slash + 1) != std::string::npos)
        return false;
    return t[0] != '.' && t.find("..") == std::string::npos;
}

} // namespace

FileTypeMap& GetFileTypeMap() {
    static FileTypeMap map;
    return map;
}

void AddFileType(FileTypeMap& map, const std::string& key, const std::string& extension) {
    auto [it, inserted] = map.emplace(key, extension);
    if (!inserted)
        it->second += ";" + extension;
}

void AddFileType(const std::string& key, const std::string& extension) { AddFileType(GetFileTypeMap(), key, extension); }

std::string MimeTypeComment(const std::string& mimeRoot, const std::string& mimeType) {
    if (!ValidMimeType(mimeType))
        return {};
    std::ifstream in(WithSlash(mimeRoot) + mimeType + ".xml");
    if (!in)
        return {};
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string xml = ss.str();
    // The first <comment> without a language attribute.
    for (std::size_t pos = 0; (pos = xml.find("<comment", pos)) != std::string::npos;) {
        const auto close = xml.find('>', pos);
        if (close == std::string::npos)
            break;
        const std::string tag = xml.substr(pos, close - pos);
        const bool plain = tag == "<comment" || (tag.find("xml:lang") == std::string::npos && tag.size() > 8 &&
                                                 (tag[8] == ' ' || tag[8] == '\t'));
        pos = close + 1;
        if (!plain)
            continue;
        const auto end = xml.find("</comment>", pos);
        if (end == std::string::npos)
            break;
        return XmlUnescape(xml.substr(pos, end - pos));
    }
    return {};
}

int BuildFileTypeList(FileTypeMap& map, const std::string& mimeRoot, ExtensionTypeTable* table) {
    AddFileType(map, ".00(All Files)", "*");
    std::string generic = MimeTypeComment(mimeRoot, "application/octet-stream");
    AddFileType(map, ".01" + (generic.empty() ? std::string("File") : generic), "*");

    std::ifstream in(WithSlash(mimeRoot) + "globs2");
    std::string line;
    std::set<std::pair<std::string, std::string>> seen;  // (type name, extension)
    std::map<std::string, std::string> comments;
    int added = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        // weight:mimetype:glob[:flags]
        const auto a = line.find(':');
        const auto b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos)
            continue;
        const std::string type = line.substr(a + 1, b - a - 1);
        std::string glob = line.substr(b + 1);
        if (const auto c = glob.find(':'); c != std::string::npos)
            glob.resize(c);
        // Only plain "*.ext" globs: one star in front, no further wildcards.
        if (glob.size() < 3 || glob[0] != '*' || glob[1] != '.' || glob.find_first_of("*?[", 1) != std::string::npos)
            continue;
        auto it = comments.find(type);
        if (it == comments.end())
            it = comments.emplace(type, MimeTypeComment(mimeRoot, type)).first;
        const std::string& name = it->second;
        if (name.empty())
            continue;
        const std::string ext = glob.substr(1);
        if (table) {
            std::string lower = ext;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            table->emplace(lower, FileTypeInfo{type, name});
        }
        if (!seen.emplace(name, ext).second)
            continue;
        AddFileType(map, name, ext);
        ++added;
    }
    return added;
}

int BuildFileTypeList() {
    std::string dirs = platform::GetEnv("XDG_DATA_DIRS");
    if (dirs.empty())
        dirs = "/usr/local/share:/usr/share";
    std::stringstream ss(dirs);
    std::string dir;
    while (std::getline(ss, dir, ':')) {
        struct stat st {};
        const std::string root = WithSlash(dir) + "mime";
        if (!dir.empty() && stat((root + "/globs2").c_str(), &st) == 0)
            return BuildFileTypeList(GetFileTypeMap(), root, &GetExtensionTypeTable());
    }
    return BuildFileTypeList(GetFileTypeMap(), "/usr/share/mime", &GetExtensionTypeTable());
}

ExtensionTypeTable& GetExtensionTypeTable() {
    static ExtensionTypeTable table;
    return table;
}

const FileTypeInfo* LookupFileType(const ExtensionTypeTable& table, const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 == name.size() || name.find('/', dot) != std::string::npos)
        return nullptr;
    std::string ext = name.substr(dot);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto it = table.find(ext);
    return it == table.end() ? nullptr : &it->second;
}

const FileTypeInfo* LookupFileType(const std::string& name) { return LookupFileType(GetExtensionTypeTable(), name); }
