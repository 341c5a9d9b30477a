#pragma once
// What the disk-image writer tells its caller while it works, and what it asks.
#include <cstdint>

class ICompressCallBack {
public:
    virtual ~ICompressCallBack() = default;
    // Called after every block: the caller may keep its user interface alive here.
    virtual void PumpMessages() = 0;
    // Non-zero stops the image before the next block (the image stays valid and shorter).
    virtual int IsCancelled() = 0;
    // Called after block `blockIndex` was written.
    virtual void OnBlockDone(std::uint64_t blockIndex) = 0;
    // Called once before the first block with the range 0 .. blockCount.
    virtual void SetBlockCount(std::uint64_t first, std::uint64_t blockCount) = 0;
    // Called after every block with its stored bytes (131072 when the iteration wrote none).
    virtual void ClearNewSliceRequest(std::uint32_t storedBytes) { (void)storedBytes; }
    // Asked before every block: non-zero puts the block into a new slice file.
    virtual int IsNewSliceRequested() { return 0; }
};
