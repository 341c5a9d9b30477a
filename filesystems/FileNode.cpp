#include "filesystems/FileNode.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>

#include "filesystems/FileProperties.h"
#include "filesystems/StoreSection.h"

namespace {

bool IsDirectoryEntry(const CFileNode* node) {
    return node->m_pProperties && (node->m_pProperties->GetAttributes() & FILEATTR_DIRECTORY) != 0;
}

std::uint8_t CheckStateOf(const CFileNode* node) {
    if (!node->m_pProperties)
        return CHECKSTATE_UNCHECKED;
    return node->m_pProperties->GetCheckState();
}

void SetCheckStateOf(CFileNode* node, std::uint8_t state) {
    if (node->m_pProperties)
        node->m_pProperties->SetCheckState(state);
}

// State of a folder derived from its direct children.
std::uint8_t DeriveFolderState(const CFileNode* folder) {
    std::uint32_t children = 0, checked = 0, partial = 0;
    for (const CFileNode* c = folder->m_pFirstChild; c; c = c->m_pNextSibling) {
        ++children;
        std::uint8_t s = CheckStateOf(c);
        if (s == CHECKSTATE_CHECKED)
            ++checked;
        else if (s == CHECKSTATE_PARTIAL)
            ++partial;
    }
    if (children == 0 || (checked == 0 && partial == 0))
        return CHECKSTATE_UNCHECKED;
    if (checked == children)
        return CHECKSTATE_CHECKED;
    return CHECKSTATE_PARTIAL;
}

void AdjustCounters(FileTreeCounters& c, const FileTreeCounters& d, bool checking) {
    if (checking) {
        c.checkedFiles += d.files - d.checkedFiles;
        c.checkedBytes += d.bytes - d.checkedBytes;
        c.checkedCompressedFiles += d.compressedFiles - d.checkedCompressedFiles;
        c.checkedEncryptedFiles += d.encryptedFiles - d.checkedEncryptedFiles;
    } else {
        c.checkedFiles -= d.checkedFiles;
        c.checkedBytes -= d.checkedBytes;
        c.checkedCompressedFiles -= d.checkedCompressedFiles;
        c.checkedEncryptedFiles -= d.checkedEncryptedFiles;
    }
}

void ApplyCountingStep(FileTreeWalkContext& ctx, CFileNode* node) {
    IFileProperties* p = node->m_pProperties;
    if (p) {
        std::uint16_t attributes = p->GetAttributes();
        if ((attributes & FILEATTR_DIRECTORY) == 0) {
            bool checked = p->GetCheckState() == CHECKSTATE_CHECKED;
            std::uint64_t size = p->GetFileSize();
            FileTreeCounters& c = ctx.counters;
            c.files += 1;
            c.bytes += size;
            if (checked) {
                c.checkedFiles += 1;
                c.checkedBytes += size;
            }
            if (attributes & FILEATTR_COMPRESSED) {
                c.compressedFiles += 1;
                if (checked)
                    c.checkedCompressedFiles += 1;
            }
            if (attributes & FILEATTR_ENCRYPTED) {
                c.encryptedFiles += 1;
                if (checked)
                    c.checkedEncryptedFiles += 1;
            }
        }
        if (ctx.setCheckState)
            p->SetCheckState(ctx.checkState);
    }
}

// After a toggle every node below the toggled one has the same state, so a folder below it
// has all of its files checked or none.
void SetFolderCheckedTotals(CFileNode* node, bool allChecked) {
    if (!node->IsFolder())
        return;
    FileTreeCounters& c = static_cast<CFileSystemNode*>(node)->m_counters;
    c.checkedFiles = allChecked ? c.files : 0;
    c.checkedBytes = allChecked ? c.bytes : 0;
    c.checkedCompressedFiles = allChecked ? c.compressedFiles : 0;
    c.checkedEncryptedFiles = allChecked ? c.encryptedFiles : 0;
}

// The toggle shared by folders and files.
int ToggleNode(CFileNode* node, bool thisOnly) {
    IFileProperties* p = node->m_pProperties;
    if (!p)
        return 0;
    std::uint8_t newState =
        p->GetCheckState() == CHECKSTATE_CHECKED ? CHECKSTATE_UNCHECKED : CHECKSTATE_CHECKED;
    bool checking = newState == CHECKSTATE_CHECKED;
    if (thisOnly) {
        p->SetCheckState(newState);
        return 1;
    }
    FileTreeCounters delta;
    WalkSubtreeCounters(true, newState, node, &delta);
    if (node->IsFolder())
        AdjustCounters(static_cast<CFileSystemNode*>(node)->m_counters, delta, checking);
    for (CFileNode* a = node->m_pParent; a; a = a->m_pParent) {
        SetCheckStateOf(a, DeriveFolderState(a));
        if (a->IsFolder())
            AdjustCounters(static_cast<CFileSystemNode*>(a)->m_counters, delta, checking);
    }
    return 1;
}

} // namespace

// ---- NodeProperties ----------------------------------------------------------------------

void NodeProperties::Own(std::unique_ptr<IFileProperties> properties) {
    IFileProperties* p = properties.release();
    if (p != get())
        Reset();
    m_bits = reinterpret_cast<std::uintptr_t>(p) | (p ? kOwnedBit : 0);
}

void NodeProperties::Borrow(IFileProperties* properties) {
    Reset();
    m_bits = reinterpret_cast<std::uintptr_t>(properties);
}

std::unique_ptr<IFileProperties> NodeProperties::Release() {
    std::unique_ptr<IFileProperties> out(IsOwned() ? get() : nullptr);
    m_bits = 0;
    return out;
}

void NodeProperties::Reset() noexcept {
    IFileProperties* p = get();
    const bool owned = IsOwned();
    m_bits = 0;
    if (owned)
        delete p;
}

// ---- CFileNode ---------------------------------------------------------------------------

CFileNode::~CFileNode() {
    m_pParent = nullptr;
    m_pFirstChild = nullptr;
    m_pNextSibling = nullptr;
    m_pSourceRecord = nullptr;
}

int CFileNode::GetFileSystemInfo(std::uint64_t* firstSector,
                                 std::uint32_t* sectorsPerCluster) const {
    for (const CFileNode* a = m_pParent; a; a = a->m_pParent) {
        if (a->IsFolder())
            return a->GetFileSystemInfo(firstSector, sectorsPerCluster);
    }
    if (firstSector)
        *firstSector = 0;
    if (sectorsPerCluster)
        *sectorsPerCluster = 0;
    return 0;
}

std::uint32_t CFileNode::GetFileSystemType() const {
    for (const CFileNode* a = m_pParent; a; a = a->m_pParent) {
        if (a->IsFolder())
            return a->GetFileSystemType();
    }
    return FILESYSTEM_UNKNOWN;
}

int CFileNode::Save(IRSData*) const {
    return 0;
}
int CFileNode::Load(IRSData*) {
    return 0;
}

void CFileNode::SetProperties(std::unique_ptr<IFileProperties> properties) {
    m_pProperties.Own(std::move(properties));
}

std::unique_ptr<IFileProperties> CFileNode::TakeProperties() {
    return m_pProperties.Release();
}

void CFileNode::AddChild(CFileNode* child) {
    child->m_pParent = this;
    child->m_pNextSibling = m_pFirstChild;
    m_pFirstChild = child;
}

// ---- CFileSystemNode ---------------------------------------------------------------------

CFileSystemNode::~CFileSystemNode() {
    m_caption.clear();
    m_counters = FileTreeCounters{};
    m_volumeBlock = FolderVolumeBlock{};
    m_u64FirstSector = 0;
    m_u32SectorsPerCluster = 0;
    m_fileSystemType = 0;
}

int CFileSystemNode::GetFileSystemInfo(std::uint64_t* firstSector,
                                       std::uint32_t* sectorsPerCluster) const {
    if (firstSector)
        *firstSector = m_u64FirstSector;
    if (sectorsPerCluster)
        *sectorsPerCluster = m_u32SectorsPerCluster;
    return 1;
}

void CFileSystemNode::SetFileSystemInfo(std::uint64_t firstSector,
                                        std::uint32_t sectorsPerCluster) {
    m_u64FirstSector = firstSector;
    m_u32SectorsPerCluster = sectorsPerCluster;
}

int CFileSystemNode::GetVolumeBlock(FolderVolumeBlock* block) const {
    if (block)
        *block = m_volumeBlock;
    return 1;
}

int CFileSystemNode::SetVolumeBlock(const FolderVolumeBlock* block) {
    if (block)
        m_volumeBlock = *block;
    return 1;
}

int CFileSystemNode::GetCounters(FileTreeCounters* counters) const {
    if (counters)
        *counters = m_counters;
    return 1;
}

void CFileSystemNode::SetName(const char* caption) {
    m_caption.clear();
    if (!caption)
        return;
    std::size_t length = strnlen(caption, kMaxFolderCaptionLength);
    m_caption.assign(caption, length);
}

int CFileSystemNode::SetCheckState(bool thisOnly) {
    ToggleNode(this, thisOnly);
    return 1;
}

int CFileSystemNode::SetMark(std::uint8_t mark) {
    if (!m_pProperties)
        return 0;
    return m_pProperties->SetMark(mark);
}

int CFileSystemNode::RecountCounters() {
    WalkSubtreeCounters(false, 0, this, &m_counters);
    return 1;
}

int CFileSystemNode::Save(IRSData* section) const {
    RSWriteValue<std::uint32_t>(section, m_counters.files);
    RSWriteValue<std::uint32_t>(section, 0);
    RSWriteValue<std::uint64_t>(section, m_counters.bytes);
    RSWriteValue<std::uint64_t>(section, 0);
    RSWriteValue<std::uint32_t>(section, m_counters.compressedFiles);
    RSWriteValue<std::uint32_t>(section, 0);
    RSWriteValue<std::uint32_t>(section, m_counters.encryptedFiles);
    RSWriteValue<std::uint32_t>(section, 0);
    RSWriteValue<std::uint64_t>(section, m_u64FirstSector);
    RSWriteValue<std::uint32_t>(section, m_u32SectorsPerCluster);
    RSWriteValue<std::uint32_t>(section, m_fileSystemType);
    std::uint32_t length = static_cast<std::uint32_t>(m_caption.size());
    RSWriteValue<std::uint32_t>(section, length);
    if (length)
        section->Write(m_caption.data(), length);
    return 1;
}

int CFileSystemNode::Load(IRSData* section) {
    FileTreeCounters c;
    c.files = RSReadValue<std::uint32_t>(section);
    c.checkedFiles = RSReadValue<std::uint32_t>(section);
    c.bytes = RSReadValue<std::uint64_t>(section);
    c.checkedBytes = RSReadValue<std::uint64_t>(section);
    c.compressedFiles = RSReadValue<std::uint32_t>(section);
    c.checkedCompressedFiles = RSReadValue<std::uint32_t>(section);
    c.encryptedFiles = RSReadValue<std::uint32_t>(section);
    c.checkedEncryptedFiles = RSReadValue<std::uint32_t>(section);
    std::uint64_t firstSector = RSReadValue<std::uint64_t>(section);
    std::uint32_t sectorsPerCluster = RSReadValue<std::uint32_t>(section);
    std::uint32_t type = RSReadValue<std::uint32_t>(section);
    std::uint32_t length = RSReadValue<std::uint32_t>(section);
    if (length > kMaxFolderCaptionLength)
        throw CRSException(RSERR_BAD_HEADER);
    char caption[kMaxFolderCaptionLength + 1] = {};
    if (length)
        section->Read(caption, length);
    // The checked totals are view state: a loaded folder starts with nothing checked.
    c.checkedFiles = 0;
    c.checkedBytes = 0;
    c.checkedCompressedFiles = 0;
    c.checkedEncryptedFiles = 0;
    m_counters = c;
    m_u64FirstSector = firstSector;
    m_u32SectorsPerCluster = sectorsPerCluster;
    m_fileSystemType = type;
    m_caption.assign(caption, length);
    return 1;
}

// ---- Free functions ----------------------------------------------------------------------

int ToggleCheckState(CFileNode* node, bool thisOnly) {
    if (!node)
        return 0;
    return ToggleNode(node, thisOnly);
}

CFileNode* CreateFileNode() {
    return new (std::nothrow) CFileNode();
}

CFileSystemNode* CreateFileSystemNode() {
    return new (std::nothrow) CFileSystemNode();
}

int UnlinkChildNode(CFileNode* parent, CFileNode* child) {
    if (!parent || !child)
        return 0;
    for (CFileNode** link = &parent->m_pFirstChild; *link; link = &(*link)->m_pNextSibling) {
        if (*link == child) {
            *link = child->m_pNextSibling;
            child->m_pParent = nullptr;
            child->m_pNextSibling = nullptr;
            return 1;
        }
    }
    return 0;
}

void WalkSubtreeCounters(bool setState, std::uint8_t state, CFileNode* start,
                         FileTreeCounters* out) {
    FileTreeWalkContext ctx;
    ctx.setCheckState = setState ? 1 : 0;
    ctx.checkState = state;
    if (start) {
        std::deque<CFileNode*> queue;
        queue.push_back(start);
        while (!queue.empty()) {
            CFileNode* node = queue.front();
            queue.pop_front();
            ApplyCountingStep(ctx, node);
            if (setState && node != start)
                SetFolderCheckedTotals(node, state == CHECKSTATE_CHECKED);
            for (CFileNode* c = node->m_pFirstChild; c; c = c->m_pNextSibling)
                queue.push_back(c);
        }
    }
    if (out)
        *out = ctx.counters;
}

int RecomputeCheckStates(CFileNode* node) {
    if (!node)
        return 0;
    if (!IsDirectoryEntry(node))
        return 1;
    // Post-order over the directories: children's states are final before their parent's.
    std::vector<CFileNode*> order;
    std::vector<CFileNode*> stack{node};
    while (!stack.empty()) {
        CFileNode* n = stack.back();
        stack.pop_back();
        order.push_back(n);
        for (CFileNode* c = n->m_pFirstChild; c; c = c->m_pNextSibling) {
            if (IsDirectoryEntry(c))
                stack.push_back(c);
        }
    }
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        SetCheckStateOf(*it, DeriveFolderState(*it));
    return 1;
}

void CollectTreeNodes(CFileNode* node, std::vector<CFileNode*>& nodes) {
    if (!node)
        return;
    // Iterative post-order: for each child in chain order its subtree, then the node itself.
    struct Frame {
        CFileNode* node;
        CFileNode* next; // next child to descend into
    };
    std::vector<Frame> stack;
    stack.push_back({node, node->m_pFirstChild});
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next) {
            CFileNode* child = top.next;
            top.next = child->m_pNextSibling;
            stack.push_back({child, child->m_pFirstChild});
        } else {
            nodes.push_back(top.node);
            stack.pop_back();
        }
    }
}

void DeleteFileTree(CFileNode* root) {
    if (!root)
        return;
    std::vector<CFileNode*> nodes;
    CollectTreeNodes(root, nodes);
    for (CFileNode* n : nodes)
        delete n; // with the properties it owns
}
