#include "platform/DebugOutput.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::atomic<int> g_enabled{-1}; // -1: not decided yet, read from the environment
std::atomic<bool> g_trace{false};
std::mutex g_hookMutex;
DebugOutputHook& Hook() {
    static DebugOutputHook hook;
    return hook;
}

bool Enabled() {
    if (!g_trace.load())
        return false;
    int e = g_enabled.load();
    if (e < 0) {
        const char* env = std::getenv("BRULIN_DEBUG_OUTPUT");
        e = (env && std::strcmp(env, "0") != 0 && *env) ? 1 : 0;
        g_enabled.store(e);
    }
    return e == 1;
}

} // namespace

void DebugOutput(const char* text) {
    if (!text)
        return;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        if (Hook())
            Hook()(std::string(text));
    }
    if (Enabled())
        std::fputs(text, stderr);
}

void SetDebugOutputTrace(bool on) { g_trace.store(on); }

DebugOutputHook SetDebugOutputHook(DebugOutputHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    DebugOutputHook old = std::move(Hook());
    Hook() = std::move(hook);
    return old;
}

} // namespace platform
