#pragma once
// An IFileRecoverCallback for tests: counts what the engine reports and cancels on request.
#include "recovery/FileRecoverCallback.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

class RecordingRecoverCallback : public IFileRecoverCallback {
public:
    int SetTotals(int, std::uint64_t) override { return 0; }
    int AddFilesDone(int n) override {
        files += n;
        return Answer();
    }
    int AddBytesDone(std::uint64_t n) override {
        const std::uint64_t now = bytes += n;
        if (now > peak)
            peak = now;
        return Answer();
    }
    int SubtractBytesDone(std::uint32_t n) override {
        subtracted += n;
        bytes -= n;
        return Answer();
    }
    int SetCurrentFile(const char* name) override {
        {
            std::lock_guard<std::mutex> lock(mutex);
            names.push_back(name ? name : "");
        }
        return Answer();
    }
    int Poll() override {
        ++polls;
        return Answer();
    }

    // Cancel once this many bytes were reported (0: never).
    std::uint64_t cancelAfterBytes = 0;
    // Cancel from the start.
    std::atomic<bool> cancelNow{false};

    std::atomic<int> files{0};
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> subtracted{0};
    std::atomic<std::uint64_t> peak{0}; // the most bytes ever counted as done at once
    std::atomic<int> polls{0};
    std::mutex mutex;
    std::vector<std::string> names;

private:
    int Answer() {
        if (cancelNow || (cancelAfterBytes && bytes >= cancelAfterBytes))
            return -1;
        return 0;
    }
};

} // namespace testsupport
