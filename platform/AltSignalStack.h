#pragma once
// Alternate signal stacks: a signal handler that runs on one still works after the thread's
// own stack is used up (a stack overflow), which is how the crash handler reports it.

namespace platform {

// Gives the calling thread an alternate signal stack of at least kAltSignalStackSize bytes,
// once per thread; a thread that already has one that large (the sanitizers give every thread
// one) keeps it. Ours is mapped, not taken from the heap, and is given back when the thread
// ends. False when none could be set.
bool EnsureAltSignalStack();

constexpr unsigned long kAltSignalStackSize = 64 * 1024;

} // namespace platform
