#pragma once
// Fake found-file trees for recovery tests: folder and file nodes over CMyFileProperties, with
// run lists, any name (also ones no scanner would make) and any file-system kind.
#include "tests/support/TreePtr.h"
#include "filesystems/DataRunList.h"
#include "filesystems/FileNode.h"
#include "filesystems/MyFileProperties.h"
#include "filesystems/ext2/Ext2FileProperties.h"

#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class FakeFileProperties : public CMyFileProperties {
public:
    std::string name;
    std::vector<DataRun> runs;
    bool hasRuns = true;
    bool resident = false;
    std::uint32_t kind = FILEPROPS_NTFS;

    const char* GetName() const override { return name.c_str(); }
    std::uint16_t GetNameLength() const override { return static_cast<std::uint16_t>(name.size()); }
    IDataRunList* GetDataRunList() const override {
        if (!hasRuns)
            return nullptr;
        IDataRunList* list = nullptr;
        if (resident) {
            auto* r = new CResidentNTFSDataRunList();
            r->SetRun(0, 1, 0);
            return r;
        }
        if (kind == FILEPROPS_EXT2)
            list = new CExt2DataRunList();
        else
            list = new CNoneResidentNTFSDataRunList();
        for (const DataRun& r : runs)
            list->PushRun(r);
        return list;
    }
    // As an EXT2 entry lays out its data when it plays one: blocks with holes under the holes
    // attribute, a link's text for data inside the inode.
    FileDataLayout GetDataLayout(const IDataRunList* list) const override {
        if (kind == FILEPROPS_EXT2 && (GetAttributes() & kExt2HolesAttribute))
            return FileDataLayout::SparseRuns;
        if (kind == FILEPROPS_EXT2 && list && list->IsResident())
            return FileDataLayout::LinkText;
        return CMyFileProperties::GetDataLayout(list);
    }
    std::uint32_t GetFileSystemKind() const override { return kind; }
    // Takes state bits as a file system's entry does (the cross-link passes set them).
    void AddFileState(std::uint8_t bits) override {
        MyFilePropertiesRecord record = GetRecord();
        record.entryState = static_cast<std::uint8_t>(record.entryState | bits);
        SetRecord(record);
    }
};

struct FileRecipe {
    std::string name;
    std::uint64_t size = 0;
    std::vector<DataRun> runs;
    std::uint16_t attributes = FILEATTR_ARCHIVE;
    std::uint8_t check = CHECKSTATE_CHECKED;
    std::uint64_t writeTicks = 0;
    std::uint64_t accessTicks = 0;
    bool hasRuns = true;
    std::uint32_t kind = FILEPROPS_NTFS;
};

inline FakeFileProperties* MakeProperties(const FileRecipe& recipe) {
    auto* p = new FakeFileProperties();
    MyFilePropertiesRecord record;
    record.size = recipe.size;
    record.attributes = recipe.attributes;
    record.checkState = recipe.check;
    record.lastWriteTime.ticks = recipe.writeTicks;
    record.lastAccessTime.ticks = recipe.accessTicks;
    record.validFields = VALIDFIELDS_FILESYSTEM;
    p->SetRecord(record);
    p->name = recipe.name;
    p->runs = recipe.runs;
    p->hasRuns = recipe.hasRuns;
    p->kind = recipe.kind;
    return p;
}

// Appends `child` as the last child of `parent` (AddChild puts it first).
inline void AppendChild(CFileNode* parent, CFileNode* child) {
    child->m_pParent = parent;
    CFileNode** link = &parent->m_pFirstChild;
    while (*link)
        link = &(*link)->m_pNextSibling;
    *link = child;
}

inline CFileNode* AddFile(CFileNode* parent, const FileRecipe& recipe) {
    CFileNode* node = CreateFileNode();
    node->SetProperties(std::unique_ptr<IFileProperties>(MakeProperties(recipe)));
    AppendChild(parent, node);
    return node;
}

inline CFileNode* AddFolder(CFileNode* parent, const std::string& name,
                            std::uint8_t check = CHECKSTATE_CHECKED) {
    CFileNode* node = CreateFileNode();
    FileRecipe recipe;
    recipe.name = name;
    recipe.attributes = FILEATTR_DIRECTORY;
    recipe.check = check;
    recipe.hasRuns = false;
    node->SetProperties(std::unique_ptr<IFileProperties>(MakeProperties(recipe)));
    AppendChild(parent, node);
    return node;
}



// A partition root at `firstSector` with `sectorsPerCluster`, named `name` and checked.
inline TreePtr MakeRoot(std::uint64_t firstSector, std::uint32_t sectorsPerCluster,
                        const std::string& name = "Volume") {
    TreePtr root(CreateFileSystemNode());
    root->SetFileSystemInfo(firstSector, sectorsPerCluster);
    FileRecipe recipe;
    recipe.name = name;
    recipe.attributes = FILEATTR_DIRECTORY;
    recipe.hasRuns = false;
    root->SetProperties(std::unique_ptr<IFileProperties>(MakeProperties(recipe)));
    return root;
}

} // namespace testsupport
