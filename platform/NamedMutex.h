#pragma once
// A named mutex shared between processes. It excludes threads of one process as well as
// other processes, waits at most a given time, and is never left held by a dead owner: the
// next waiter gets it and is told that it was abandoned.
#include <cstdint>
#include <string>

namespace platform {

class NamedMutex {
public:
    enum class LockResult {
        Acquired,
        Abandoned, // acquired; the previous owner died holding it
        TimedOut,
        Failed,    // not open, or the caller already holds it
    };

    NamedMutex() = default;
    ~NamedMutex() { Close(); }
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;

    // Creates the mutex `name` unowned, or opens it when it exists.
    bool Create(const std::string& name);
    // Opens an existing mutex only.
    bool Open(const std::string& name);
    void Close();
    bool IsOpen() const { return m_shared != nullptr; }

    LockResult Lock(std::uint32_t timeoutMs);
    // True for Acquired and Abandoned.
    static bool Held(LockResult r) { return r == LockResult::Acquired || r == LockResult::Abandoned; }
    bool Unlock();

    static bool Exists(const std::string& name);
    static bool Remove(const std::string& name);

private:
    struct Shared;
    bool Attach(const std::string& name, bool create);
    Shared* m_shared = nullptr;
};

} // namespace platform
