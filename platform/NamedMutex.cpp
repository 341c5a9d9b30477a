#include "platform/NamedMutex.h"

#include "platform/SharedMemory.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace platform {

// The mutex lives in a small shared-memory object of its own; `ready` is set once the creator
// has initialised it.
struct NamedMutex::Shared {
    std::atomic<std::uint32_t> ready;
    pthread_mutex_t mutex;
};

namespace {

constexpr std::uint32_t kReady = 0x4D555458; // "MUTX"

std::string MutexObjectName(const std::string& name) {
    return SharedMemory::ObjectName("brulin.mutex." + name);
}

bool InitMutex(pthread_mutex_t* m) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_ERRORCHECK) == 0 &&
              pthread_mutex_init(m, &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

} // namespace

bool NamedMutex::Attach(const std::string& name, bool create) {
    Close();
    if (name.empty())
        return false;
    const std::string obj = MutexObjectName(name);
    int fd = -1;
    bool creator = false;
    if (create) {
        fd = ::shm_open(obj.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        creator = fd >= 0;
        if (!creator && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        fd = ::shm_open(obj.c_str(), O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    if (creator && ::ftruncate(fd, sizeof(Shared)) != 0) {
        ::close(fd);
        ::shm_unlink(obj.c_str());
        return false;
    }
    // Another process may be creating it right now: wait (briefly) for its size.
    struct stat st {};
    for (int i = 0; i < 200; ++i) {
        if (::fstat(fd, &st) == 0 && static_cast<std::size_t>(st.st_size) >= sizeof(Shared))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (static_cast<std::size_t>(st.st_size) < sizeof(Shared)) {
        ::close(fd);
        return false;
    }
    void* p = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    ::close(fd);
    if (p == MAP_FAILED) {
        if (creator)
            ::shm_unlink(obj.c_str());
        return false;
    }
    auto* shared = static_cast<Shared*>(p);
    if (creator) {
        if (!InitMutex(&shared->mutex)) {
            ::munmap(p, sizeof(Shared));
            ::shm_unlink(obj.c_str());
            return false;
        }
        shared->ready.store(kReady, std::memory_order_release);
    } else {
        int i = 0;
        while (shared->ready.load(std::memory_order_acquire) != kReady && i++ < 200)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (shared->ready.load(std::memory_order_acquire) != kReady) {
            ::munmap(p, sizeof(Shared));
            return false;
        }
    }
    m_shared = shared;
    return true;
}

bool NamedMutex::Create(const std::string& name) { return Attach(name, true); }
bool NamedMutex::Open(const std::string& name) { return Attach(name, false); }

void NamedMutex::Close() {
    if (m_shared)
        ::munmap(m_shared, sizeof(Shared));
    m_shared = nullptr;
}

NamedMutex::LockResult NamedMutex::Lock(std::uint32_t timeoutMs) {
    if (!m_shared)
        return LockResult::Failed;
    struct timespec deadline {};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += timeoutMs / 1000;
    deadline.tv_nsec += static_cast<long>(timeoutMs % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    int rc;
    do {
        rc = pthread_mutex_clocklock(&m_shared->mutex, CLOCK_MONOTONIC, &deadline);
    } while (rc == EINTR);
    switch (rc) {
    case 0:
        return LockResult::Acquired;
    case EOWNERDEAD:
        // The owner died holding it: take it over and make it usable again.
        pthread_mutex_consistent(&m_shared->mutex);
        return LockResult::Abandoned;
    case ETIMEDOUT:
        return LockResult::TimedOut;
    default:
        return LockResult::Failed;
    }
}

bool NamedMutex::Unlock() {
    return m_shared && pthread_mutex_unlock(&m_shared->mutex) == 0;
}

bool NamedMutex::Exists(const std::string& name) {
    int fd = ::shm_open(MutexObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool NamedMutex::Remove(const std::string& name) {
    return ::shm_unlink(MutexObjectName(name).c_str()) == 0;
}

} // namespace platform
