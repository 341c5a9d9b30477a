#pragma once
// Progress and cancel interface of file recovery, implemented by every caller of the recovery
// engine. The engine calls it on its worker thread. Every method returns -1 to ask the engine to
// stop; any other value lets it go on.
#include <cstdint>

class IFileRecoverCallback {
public:
    // The caller's own totals before the work starts (the engine never calls it).
    virtual int SetTotals(int fileCount, std::uint64_t totalBytes) = 0;
    // `n` more files were recovered (the engine passes 1 after each file).
    virtual int AddFilesDone(int n) = 0;
    // Bytes just written to the target.
    virtual int AddBytesDone(std::uint64_t bytes) = 0;
    // Takes back bytes that were counted but are not file content.
    virtual int SubtractBytesDone(std::uint32_t bytes) = 0;
    // The file about to be recovered.
    virtual int SetCurrentFile(const char* name) = 0;
    // Lets the caller look at its cancel state.
    virtual int Poll() = 0;

protected:
    ~IFileRecoverCallback() = default;
};

// Result codes of recovering one file and of walking a tree.
constexpr int kRecoverDone = 0;
constexpr int kRecoverFailed = 1;
constexpr int kRecoverCancelled = 2;
