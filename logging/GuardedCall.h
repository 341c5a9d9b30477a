#pragma once
// Calls the caller survives the failure of: a carving analyser on a damaged sector, a search
// controller on one chunk, a read of a damaged directory. Such a failure must not pass without
// a trace, nor flood the log when the same thing fails on every sector: the first failure of
// each site (and of each thing there, such as an analyser's type) is logged, the rest are counted.
//
//   constexpr GuardedSite kSizing{"Sizing a carved file", "analyser"};
//   int done = GuardedCall(kSizing, typeId, [&] { return a->ComputeFileSize(r, device); }, 0);
//
// The call itself costs nothing more than a try block: the log and the counts are reached only
// when it throws.
#include "logging/Log.h"

#include <cstdint>
#include <exception>
#include <type_traits>
#include <utility>

struct GuardedSite {
    const char* action;  // what the call does, as the log names it ("Sizing a carved file")
    const char* subject; // what the key numbers there ("analyser"), or null: the site has one
    // Optional name of a key for the log ("PNG"); "" or null when there is none.
    const char* (*keyName)(std::uint32_t key) = nullptr;
};

// Counts a failure of `site` for `key` and logs it if it is the first there: `what` is the
// exception's text, or null when it carried none. Never throws.
OMBREL_API void NoteGuardedFailure(const GuardedSite& site, std::uint32_t key,
                                   const char* what) noexcept;
// Failures counted so far at `site` for `key` (sites are told apart by their action's text).
OMBREL_API std::uint64_t GetGuardedFailureCount(const GuardedSite& site,
                                                std::uint32_t key) noexcept;
// Logs, for each site and key that failed again since the last call (or its first log line),
// how many times it has failed in all. Logs nothing when nothing failed; cheap then.
OMBREL_API void LogGuardedFailureCounts() noexcept;

namespace guarded_detail {
inline void Note(const GuardedSite& site, std::uint32_t key) noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        NoteGuardedFailure(site, key, e.what());
    } catch (...) {
        NoteGuardedFailure(site, key, nullptr);
    }
}
} // namespace guarded_detail

// Runs `call`; when it throws, notes the failure and returns `fallback`.
template <typename Call, typename Result>
Result GuardedCall(const GuardedSite& site, std::uint32_t key, Call&& call, Result fallback) {
    try {
        return std::forward<Call>(call)();
    } catch (...) {
        guarded_detail::Note(site, key);
    }
    return fallback;
}

// Runs `call`, which returns nothing; false when it threw (the failure is noted).
template <typename Call> bool GuardedCall(const GuardedSite& site, std::uint32_t key, Call&& call) {
    static_assert(std::is_void_v<decltype(std::forward<Call>(call)())>);
    try {
        std::forward<Call>(call)();
        return true;
    } catch (...) {
        guarded_detail::Note(site, key);
    }
    return false;
}
