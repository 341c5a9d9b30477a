#pragma once
// Small found-file trees built by hand for tables of search and find cases: a program-made
// "Root", folders and files with plain property records. Freed by the tree deletion.
#include "filesystems/FileNode.h"
#include "filesystems/FileProperties.h"
#include "filesystems/MyFileProperties.h"
#include "tests/support/TreePtr.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace handtree {

inline MyFilePropertiesRecord FileRecord(const std::string& name, std::uint64_t size = 0, std::uint16_t attrs = 0,
                                         std::uint32_t valid = VALIDFIELDS_FILESYSTEM) {
    MyFilePropertiesRecord r;
    std::snprintf(r.name, sizeof r.name, "%s", name.c_str());
    r.nameLength = static_cast<std::uint32_t>(std::strlen(r.name));
    r.size = size;
    r.attributes = attrs;
    r.validFields = valid;
    return r;
}

// Children are inserted at the head of the chain, so the helpers append at the tail instead to
// keep the order in which a test adds them.
inline void AppendChild(CFileNode* parent, CFileNode* child) {
    child->m_pParent = parent;
    CFileNode** link = &parent->m_pFirstChild;
    while (*link)
        link = &(*link)->m_pNextSibling;
    *link = child;
}

inline CFileNode* AddFile(CFileNode* parent, const MyFilePropertiesRecord& record) {
    CFileNode* node = CreateFileNode();
    auto props = std::make_unique<CMyFileProperties>();
    props->SetRecord(record);
    node->SetProperties(std::move(props));
    AppendChild(parent, node);
    return node;
}

inline CFileNode* AddFile(CFileNode* parent, const std::string& name, std::uint64_t size = 0) {
    return AddFile(parent, FileRecord(name, size));
}

inline CFileSystemNode* AddFolder(CFileNode* parent, const std::string& name) {
    CFileSystemNode* node = CreateFileSystemNode();
    auto props = std::make_unique<CMyFileProperties>();
    props->SetRecord(FileRecord(name, 0, FILEATTR_DIRECTORY));
    node->SetProperties(std::move(props));
    AppendChild(parent, node);
    return node;
}

inline testsupport::TreePtr NewRoot() {
    CFileSystemNode* root = CreateFileSystemNode();
    root->SetProperties(std::unique_ptr<IFileProperties>(CreateProgramRootProperties()));
    return testsupport::TreePtr(root);
}

inline std::string NameOf(const CFileNode* node) {
    return node && node->m_pProperties ? node->m_pProperties->GetName() : "";
}

} // namespace handtree
