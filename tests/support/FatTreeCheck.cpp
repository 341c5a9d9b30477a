#include "tests/support/FatTreeCheck.h"

#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "storage/StorageDevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <sstream>

namespace testsupport {

std::map<std::string, const CFileNode*> FlattenTree(const CFileNode* root) {
    std::map<std::string, const CFileNode*> out;
    std::vector<std::pair<const CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, prefix] = stack.back();
        stack.pop_back();
        for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            std::string path = prefix + c->m_pProperties->GetName();
            while (out.count(path))
                path += "#2";
            out[path] = c;
            stack.push_back({c, path + "/"});
        }
    }
    return out;
}

std::vector<std::uint8_t> ReadNodeBytes(IStorageDevice& dev, const CFileNode* node) {
    std::uint64_t first = 0;
    std::uint32_t spc = 0;
    node->GetFileSystemInfo(&first, &spc);
    std::vector<std::uint8_t> out;
    std::unique_ptr<IDataRunList> runs(node->m_pProperties->GetDataRunList());
    if (!runs)
        return out;
    for (const DataRun* r = runs->GetFirstRun(); r; r = runs->GetNextRun()) {
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(r->count) * spc * 512);
        EXPECT_TRUE(dev.ReadSectors(buf.data(), first + r->start * spc, r->count * spc));
        out.insert(out.end(), buf.begin(), buf.end());
    }
    out.resize(std::min<std::size_t>(out.size(), node->m_pProperties->GetFileSize()));
    return out;
}

std::map<std::string, std::int64_t> MdirEntries(FatImage& img) {
    std::map<std::string, std::int64_t> out;
    std::istringstream in(img.Mdir("/"));
    static const std::regex dirLine(R"(^Directory for ::/(.*)$)");
    static const std::regex entryLine(
        R"(^(.{8}) (.{3}) +(<DIR>|\d+) +\d{4}-\d\d-\d\d +\d+:\d\d(?:  (.*))?$)");
    auto trim = [](std::string s) {
        while (!s.empty() && s.back() == ' ')
            s.pop_back();
        return s;
    };
    std::string dir, line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, dirLine)) {
            dir = m[1].str();
            if (!dir.empty())
                dir += "/";
            continue;
        }
        line = trim(line);
        if (!std::regex_match(line, m, entryLine))
            continue;
        const bool longName = m[4].matched && !m[4].str().empty();
        std::string name = longName ? m[4].str() : trim(m[1].str());
        if (!longName && !trim(m[2].str()).empty())
            name += "." + trim(m[2].str());
        if (name == "." || name == "..")
            continue;
        out[dir + name] = m[3].str() == "<DIR>" ? -1 : std::stoll(m[3].str());
    }
    return out;
}

std::map<std::string, std::int64_t> LiveTreeEntries(const CFileNode* root) {
    std::map<std::string, std::int64_t> out;
    std::vector<std::pair<const CFileNode*, std::string>> stack{{root, ""}};
    while (!stack.empty()) {
        auto [node, prefix] = stack.back();
        stack.pop_back();
        for (const CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling) {
            const IFileProperties* p = c->m_pProperties;
            if (p->GetFileState() != FILESTATE_LIVE)
                continue;
            const std::string path = prefix + p->GetName();
            const bool dir = p->GetAttributes() & FILEATTR_DIRECTORY;
            out[path] = dir ? -1 : static_cast<std::int64_t>(p->GetFileSize());
            if (dir)
                stack.push_back({c, path + "/"});
        }
    }
    return out;
}

} // namespace testsupport
