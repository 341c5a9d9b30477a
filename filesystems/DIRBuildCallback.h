#pragma once
// Progress of a directory build. The tree builders call it on their worker thread; the UI
// implements it (a progress dialog) and answers -1 from every operation once the user has
// cancelled, 0 otherwise. Builders treat -1 from any operation as "cancelled".
#include <cstdint>

class IDIRBuildCallback {
public:
    virtual ~IDIRBuildCallback() = default;
    // Starts a stage: shows `text`, progress range 0..total, elapsed time restarted.
    virtual int BeginStage(const char* text, std::int32_t total) = 0;
    // Adds `count` to the position.
    virtual int StepBy(std::int32_t count) = 0;
    // Sets the position.
    virtual int SetPos(std::int32_t position) = 0;
    // Zeroes the stage's counters.
    virtual int Reset() = 0;
    // -1 once cancelled, else 0.
    virtual int Poll() = 0;
};

// Answers 0 to everything: for builds that nobody watches (no progress shown, no cancel).
class CNullDirBuildCallback : public IDIRBuildCallback {
public:
    int BeginStage(const char*, std::int32_t) override { return 0; }
    int StepBy(std::int32_t) override { return 0; }
    int SetPos(std::int32_t) override { return 0; }
    int Reset() override { return 0; }
    int Poll() override { return 0; }
};
