#pragma once
// The step that takes over a finished tree and shows it for choosing files.
class CFileSystemNode;

class IFileTreeReceiver {
public:
    virtual ~IFileTreeReceiver() = default;
    // Takes ownership of `root`.
    virtual void SetFileTree(CFileSystemNode* root) = 0;
};
