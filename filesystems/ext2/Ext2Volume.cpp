#include "filesystems/ext2/Ext2Volume.h"

#include "filesystems/ext2/Ext2FileSystem.h"

#include <exception>
#include <memory>
#include <string>

namespace {

// The root folder reads from the device: inode 2 is a folder whose first two entries are "."
// and "..", both naming it.
bool RootFolderReads(CExt2FileSystem& fs) {
    CExt2Inode root(&fs);
    root.Load(ext2::kRootInode);
    if (!root.IsUsable() || !root.IsDirectory())
        return false;
    CExt2DirEntry entry(&root);
    if (entry.AtEnd() || entry.EntryInode() != ext2::kRootInode || entry.EntryName() != ".")
        return false;
    entry.Advance();
    return !entry.AtEnd() && entry.EntryInode() == ext2::kRootInode && entry.EntryName() == "..";
}

} // namespace

CExt2Volume::CExt2Volume(IStorageDevice* device, std::uint64_t partitionStart) {
    if (!device || partitionStart > UINT64_MAX - 2)
        return;
    try {
        const std::unique_ptr<CExt2FileSystem> fs = OpenExt2FileSystem(device, partitionStart);
        // A volume that runs past the device's end (a partial copy, or a superblock and table
        // that only look like a volume's) is named only when its root folder reads too.
        if (fs->BlocksOnDevice() < fs->BlockCount() && !RootFolderReads(*fs))
            throw CExt2BadSuperBlock();
        const CExt2SuperBlock& sb = fs->SuperBlock();
        const std::string name = sb.VolumeName();
        const std::string label =
            DecodeExt2Name(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
        m_fileSystemType = sb.HasJournal() ? FILESYSTEM_EXT3 : FILESYSTEM_EXT2;
        m_u64TotalSectors = static_cast<std::uint64_t>(sb.BlockCount()) * sb.BlockSize() / 512;
        SetVolumeLabel(label.c_str());
    } catch (const std::exception&) {
        m_fileSystemType = FILESYSTEM_UNKNOWN;
        m_u64TotalSectors = 0;
        SetVolumeLabel("");
    }
}
