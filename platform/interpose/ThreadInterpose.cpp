// Linked into the programs only (never into a library): the programs' own definition of
// pthread_create, which every library of the process reaches first (the program exports it),
// so that every thread, including those the window toolkit and its libraries start, gets an
// alternate signal stack before its own code runs. It then starts the thread through the C
// library's pthread_create. The sanitizers define pthread_create themselves and give every
// thread an alternate signal stack, so a sanitizer build leaves this out.
#include "platform/AltSignalStack.h"

#include <cerrno>
#include <cstdlib>
#include <dlfcn.h>
#include <pthread.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define BRULIN_SANITIZED_THREADS 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BRULIN_SANITIZED_THREADS 1
#endif

#ifndef BRULIN_SANITIZED_THREADS

namespace {

using CreateFn = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

struct ThreadEntry {
    void* (*routine)(void*);
    void* arg;
};

void* StartWithAltStack(void* p) {
    const ThreadEntry entry = *static_cast<ThreadEntry*>(p);
    std::free(p);
    platform::EnsureAltSignalStack();
    return entry.routine(entry.arg);
}

CreateFn LibraryCreate() {
    static const CreateFn fn = reinterpret_cast<CreateFn>(dlsym(RTLD_NEXT, "pthread_create"));
    return fn;
}

} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*routine)(void*),
                              void* arg) noexcept {
    const CreateFn create = LibraryCreate();
    if (!create)
        return EAGAIN;
    auto* entry = static_cast<ThreadEntry*>(std::malloc(sizeof(ThreadEntry)));
    if (!entry)
        return create(thread, attr, routine, arg);  // rather a thread without one than none
    entry->routine = routine;
    entry->arg = arg;
    const int rc = create(thread, attr, StartWithAltStack, entry);
    if (rc != 0)
        std::free(entry);
    return rc;
}

#endif
