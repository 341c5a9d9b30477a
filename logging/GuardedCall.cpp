#include "logging/GuardedCall.h"

#include <atomic>
#include <cinttypes>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

struct FailureCount {
    GuardedSite site{}; // as first seen; its texts are the caller's lasting literals
    std::uint64_t count = 0;
    std::uint64_t logged = 0; // the count the log last told
};

std::mutex g_mutex;
std::map<std::pair<std::string, std::uint32_t>, FailureCount> g_failures;
std::atomic<bool> g_unreported{false};

// "analyser 47 (PNG)", "analyser 77", or "" for a site without subject.
std::string Subject(const GuardedSite& site, std::uint32_t key) {
    if (!site.subject)
        return {};
    std::string text = " (";
    text += site.subject;
    text += ' ';
    text += std::to_string(key);
    const char* name = site.keyName ? site.keyName(key) : nullptr;
    if (name && *name) {
        text += ' ';
        text += name;
    }
    text += ')';
    return text;
}

} // namespace

void NoteGuardedFailure(const GuardedSite& site, std::uint32_t key, const char* what) noexcept {
    try {
        std::unique_lock<std::mutex> lock(g_mutex);
        FailureCount& entry = g_failures[{site.action ? site.action : "", key}];
        if (entry.count == 0)
            entry.site = site;
        if (++entry.count != 1) {
            g_unreported.store(true, std::memory_order_relaxed);
            return;
        }
        entry.logged = 1;
        lock.unlock();
        const std::string subject = Subject(site, key);
        LogError("%s failed%s: %s; later failures there are counted", site.action, subject.c_str(),
                 what && *what ? what : "unknown error");
    } catch (const std::exception&) {
        // no memory for the count: the failure itself is what the caller handles
    }
}

std::uint64_t GetGuardedFailureCount(const GuardedSite& site, std::uint32_t key) noexcept {
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = g_failures.find({site.action ? site.action : "", key});
        return it == g_failures.end() ? 0 : it->second.count;
    } catch (const std::exception&) {
        return 0;
    }
}

void LogGuardedFailureCounts() noexcept {
    if (!g_unreported.exchange(false, std::memory_order_relaxed))
        return;
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        for (auto& [where, entry] : g_failures) {
            if (entry.count == entry.logged)
                continue;
            entry.logged = entry.count;
            const std::string subject = Subject(entry.site, where.second);
            LogWarning("%s failed%s %" PRIu64 " times in all", where.first.c_str(), subject.c_str(),
                       entry.count);
        }
    } catch (const std::exception&) {
        // no memory for the text: the counts stay for the next report
    }
}
