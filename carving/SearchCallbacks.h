#pragma once
// Progress and cancel callbacks of the whole-device searches. The deep scan (intelligent
// search) and the lost-partition search call them on their worker thread; the user interface
// implements them (its progress dialogs) and must return at once.
#include <cstdint>

#include "filesystems/IntelligentSearchStats.h"

class IIntelligentSearchCallback {
public:
    virtual ~IIntelligentSearchCallback() = default;
    // Progress position, in chunks.
    virtual void SetPosition(std::uint64_t chunk) = 0;
    // Progress range in chunks (the search passes 0 and the chunk count).
    virtual void SetRange(std::uint64_t first, std::uint64_t last) = 0;
    // Non-zero once the user cancelled.
    virtual int IsCancelled() = 0;
    // Lets the user interface breathe; returns 0.
    virtual int PumpMessages() = 0;
    virtual void GetStatistics(IntelligentSearchStats* out) = 0;
    virtual void SetStatistics(const IntelligentSearchStats* stats) = 0;
};

// A partition found by the lost-partition search (defined with that search).
struct FoundPartitionInfo;

class IPartitionSearchCallback {
public:
    virtual ~IPartitionSearchCallback() = default;
    virtual int PumpMessages() = 0;
    // Counts one candidate.
    virtual void StepProgress() = 0;
    // Non-zero once the user cancelled; the search then stops at once.
    virtual int IsCancelled() = 0;
    virtual void SetStage(int stage) = 0;
    // Counts one step.
    virtual void AddProgress() = 0;
    // Progress range in candidates (the search passes 0 and the candidate total).
    virtual void SetRange(std::uint64_t first, std::uint64_t last) = 0;
    virtual void SetPosition(int position) = 0;
    // Not called by the search.
    virtual void Reserved() {}
    // Copies the record; the copy takes over the record's partition device, and the search
    // reuses its own record for the next candidate.
    virtual void OnPartitionFound(const FoundPartitionInfo* partition) = 0;
};
