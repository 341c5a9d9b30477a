#include "platform/AltSignalStack.h"

#include <csignal>
#include <sys/mman.h>

namespace platform {

namespace {

// The alternate signal stack a thread got here. When the thread ends the stack that was there
// before is put back and ours is unmapped, unless someone else has replaced it since.
class AltSignalStack {
public:
    AltSignalStack() = default;
    AltSignalStack(const AltSignalStack&) = delete;
    AltSignalStack& operator=(const AltSignalStack&) = delete;

    bool Ensure() {
        if (m_ready)
            return true;
        stack_t current{};
        if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
            current.ss_size >= kAltSignalStackSize) {
            m_ready = true;
            return true;
        }
        void* mem = mmap(nullptr, kAltSignalStackSize, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
        if (mem == MAP_FAILED)
            return false;
        stack_t ss{};
        ss.ss_sp = mem;
        ss.ss_size = kAltSignalStackSize;
        if (sigaltstack(&ss, &m_previous) != 0) {
            munmap(mem, kAltSignalStackSize);
            return false;
        }
        m_mem = mem;
        m_ready = true;
        return true;
    }

    ~AltSignalStack() {
        if (!m_mem)
            return;
        stack_t current{};
        if (sigaltstack(nullptr, &current) != 0 || current.ss_sp != m_mem)
            return;
        if (m_previous.ss_flags & SS_DISABLE) {
            stack_t off{};
            off.ss_flags = SS_DISABLE;
            sigaltstack(&off, nullptr);
        } else {
            m_previous.ss_flags = 0;
            sigaltstack(&m_previous, nullptr);
        }
        munmap(m_mem, kAltSignalStackSize);
    }

private:
    bool m_ready = false;
    void* m_mem = nullptr;
    stack_t m_previous{};
};

thread_local AltSignalStack t_altStack;

} // namespace

bool EnsureAltSignalStack() { return t_altStack.Ensure(); }

} // namespace platform
