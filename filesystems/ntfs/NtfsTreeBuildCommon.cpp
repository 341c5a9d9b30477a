#include "filesystems/ntfs/NtfsTreeBuildCommon.h"

#include "filesystems/FileNode.h"
#include "filesystems/ntfs/NtfsAttributes.h"
#include "filesystems/ntfs/NtfsFileProperties.h"

namespace ntfs_tree {

std::int64_t BaseParentReference(const MftRecordView& view) {
    NtfsFileNameView fn;
    for (int n : {1, 0}) {
        if (ReadFileNameAttr(view.FindBaseAttribute(kNtfsAttrFileName, n), fn) &&
            fn.parent >= kNtfsRootRecord)
            return static_cast<std::int64_t>(fn.parent);
    }
    return -1;
}

void FreeEntries(NtfsRecordList* list) {
    for (auto& e : list->entries) {
        delete e.properties;
        e.properties = nullptr;
    }
    list->entries.clear();
}

void ForgetSourceRecords(CFileNode* root) {
    CFileNode* n = root;
    while (n) {
        n->m_pSourceRecord = nullptr;
        if (n->m_pFirstChild) {
            n = n->m_pFirstChild;
            continue;
        }
        while (n != root && !n->m_pNextSibling)
            n = n->m_pParent;
        n = n == root ? nullptr : n->m_pNextSibling;
    }
}

} // namespace ntfs_tree
