#include "filesystems/CrossLink.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint64_t kSectorBytes = 512;

bool IsFileEntry(const IFileProperties* props) {
    return props && !(props->GetAttributes() & FILEATTR_DIRECTORY);
}

// Calls `visit` for the properties of every file (not folder) under `root`, depth first over
// an explicit stack, until it returns false. False when it was stopped.
template <typename Visit> bool ForEachFile(CFileNode* root, Visit visit) {
    std::vector<CFileNode*> stack;
    if (root)
        stack.push_back(root);
    while (!stack.empty()) {
        CFileNode* node = stack.back();
        stack.pop_back();
        for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
            stack.push_back(c);
        if (IsFileEntry(node->m_pProperties) && !visit(*node->m_pProperties))
            return false;
    }
    return true;
}

// True when one of the clusters of the entry's runs (cut at its size) is marked in `map`.
bool RunsTouchMarkedClusters(const IFileProperties& properties, const CClusterUseBitMap& map) {
    const std::uint64_t clusterBytes = map.GetSectorsPerCluster() * kSectorBytes;
    return !VisitFileClusterRuns(properties, clusterBytes, [&map](std::uint64_t first, std::uint64_t count) {
        return !map.AnyMarked(first, count);
    });
}

} // namespace

void MarkLiveFileClusters(CFileNode* root, CClusterUseBitMap& map) {
    const std::uint64_t clusterBytes = map.GetSectorsPerCluster() * kSectorBytes;
    ForEachFile(root, [&](const IFileProperties& props) {
        if (!(props.GetFileState() & FILESTATE_DELETED))
            VisitFileClusterRuns(props, clusterBytes, [&map](std::uint64_t first, std::uint64_t count) {
                map.MarkClusters(first, count);
                return true;
            });
        return true;
    });
}

bool HasDeletedFiles(CFileNode* root) {
    return !ForEachFile(root, [](const IFileProperties& props) { return !(props.GetFileState() & FILESTATE_DELETED); });
}

std::unique_ptr<CClusterUseBitMap> CreateCrossLinkMap(CFileNode* root, std::vector<std::uint64_t>* bits,
                                                      std::uint64_t clusterCount) {
    std::uint64_t firstSector = 0;
    std::uint32_t spc = 0;
    if (!root || !bits || clusterCount == 0 || !root->GetFileSystemInfo(&firstSector, &spc) || spc == 0 ||
        spc > 255 || !HasDeletedFiles(root))
        return nullptr;
    return std::make_unique<CClusterUseBitMap>(bits, firstSector, static_cast<std::uint8_t>(spc), clusterCount);
}

void VisitDeletedFiles(CFileNode* root, const std::function<void(IFileProperties& properties)>& visit) {
    ForEachFile(root, [&](IFileProperties& props) {
        if (props.GetFileState() & FILESTATE_DELETED)
            visit(props);
        return true;
    });
}

std::size_t FlagCrossLinkedFiles(CFileNode* root, const CrossLinkTest& inUse) {
    std::size_t flagged = 0;
    VisitDeletedFiles(root, [&](IFileProperties& props) {
        if (inUse(props)) {
            props.AddFileState(FILESTATE_CROSS_LINK);
            ++flagged;
        }
    });
    return flagged;
}

std::size_t FlagCrossLinkedFiles(CFileNode* root, const CClusterUseBitMap& map) {
    return FlagCrossLinkedFiles(root, [&map](const IFileProperties& props) {
        return RunsTouchMarkedClusters(props, map);
    });
}
