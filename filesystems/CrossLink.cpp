#include "filesystems/CrossLink.h"

#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"

#include <algorithm>
#include <cstdint>
#include <limits>
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

void VisitLiveFiles(CFileNode* root, const std::function<void(IFileProperties& properties)>& visit) {
    ForEachFile(root, [&](IFileProperties& props) {
        if (!(props.GetFileState() & FILESTATE_DELETED))
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

namespace {

// Clusters [first, end) of one deleted file, with its write stamp.
struct ClusterClaim {
    std::uint64_t first = 0;
    std::uint64_t end = 0;
    std::uint64_t stamp = kNoWriteStamp;
    std::uint32_t owner = 0; // index of the file
};

} // namespace

std::size_t FlagOverwrittenDeletedFiles(CFileNode* root, std::uint64_t clusterCount, const ClaimedClustersOf& claimsOf,
                                        const WriteStampOf& stampOf) {
    if (!root || clusterCount == 0 || !claimsOf || !stampOf)
        return 0;
    std::vector<IFileProperties*> files;
    std::vector<ClusterClaim> claims;
    std::vector<ClusterClaim> own;
    VisitDeletedFiles(root, [&](IFileProperties& props) {
        if (files.size() == std::numeric_limits<std::uint32_t>::max())
            return;
        own.clear();
        claimsOf(props, [&](std::uint64_t first, std::uint64_t count) {
            if (first < clusterCount && count > 0)
                own.push_back({first, count > clusterCount - first ? clusterCount : first + count});
            return true;
        });
        if (own.empty())
            return;
        // A file's own runs never clash with each other: runs that overlap or touch become one.
        std::sort(own.begin(), own.end(),
                  [](const ClusterClaim& a, const ClusterClaim& b) { return a.first < b.first; });
        const auto owner = static_cast<std::uint32_t>(files.size());
        const std::uint64_t stamp = stampOf(props);
        files.push_back(&props);
        ClusterClaim merged = own.front();
        for (const ClusterClaim& run : own) {
            if (run.first <= merged.end) {
                merged.end = std::max(merged.end, run.end);
                continue;
            }
            claims.push_back({merged.first, merged.end, stamp, owner});
            merged = run;
        }
        claims.push_back({merged.first, merged.end, stamp, owner});
    });
    if (files.size() < 2)
        return 0;
    std::sort(claims.begin(), claims.end(),
              [](const ClusterClaim& a, const ClusterClaim& b) { return a.first < b.first; });

    // Sweep in cluster order. Every claim still running when a new one starts shares its first
    // cluster. Of the running claims at most one, the leader, is not flagged: it was written
    // after every other one it met. The running claims with a stamp sit in a heap by stamp
    // (ended ones leave it when they reach the top); of those without one only the furthest
    // end matters, as meeting any of them flags both sides.
    std::vector<char> flagged(files.size(), 0);
    std::vector<std::size_t> heap;
    const auto lowerStamp = [&claims](std::size_t a, std::size_t b) { return claims[a].stamp < claims[b].stamp; };
    constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    std::size_t leader = kNone;
    std::uint64_t unstampedEnd = 0;
    for (std::size_t i = 0; i < claims.size(); ++i) {
        const ClusterClaim& claim = claims[i];
        while (!heap.empty() && claims[heap.front()].end <= claim.first) {
            std::pop_heap(heap.begin(), heap.end(), lowerStamp);
            heap.pop_back();
        }
        const bool unstampedRunning = unstampedEnd > claim.first;
        const bool leaderRunning = leader != kNone && claims[leader].end > claim.first;
        if (!unstampedRunning && heap.empty()) {
            leader = i; // alone here
        } else {
            const bool stamped = claim.stamp != kNoWriteStamp;
            if (stamped && !unstampedRunning && claim.stamp > claims[heap.front()].stamp) {
                // Written after every running claim: those hold this file's bytes now.
                if (leaderRunning)
                    flagged[claims[leader].owner] = 1;
                leader = i;
            } else {
                flagged[claim.owner] = 1;
                if (leaderRunning) {
                    const ClusterClaim& l = claims[leader];
                    if (!(stamped && l.stamp != kNoWriteStamp && l.stamp > claim.stamp)) {
                        flagged[l.owner] = 1;
                        leader = kNone;
                    }
                }
            }
        }
        if (claim.stamp == kNoWriteStamp) {
            unstampedEnd = std::max(unstampedEnd, claim.end);
        } else {
            heap.push_back(i);
            std::push_heap(heap.begin(), heap.end(), lowerStamp);
        }
    }

    std::size_t count = 0;
    for (std::size_t f = 0; f < files.size(); ++f) {
        if (!flagged[f] || (files[f]->GetFileState() & FILESTATE_CROSS_LINK))
            continue;
        files[f]->AddFileState(FILESTATE_CROSS_LINK);
        ++count;
    }
    return count;
}
