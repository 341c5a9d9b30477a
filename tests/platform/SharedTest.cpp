#include "platform/NamedMutex.h"
#include "platform/SharedMemory.h"

#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {
std::string UniqueName(const char* what) {
    return std::string("brulin-test-") + what + "-" + std::to_string(::getpid());
}
int WaitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
} // namespace

TEST(SharedMemory, ChildWritesParentReads) {
    const std::string name = UniqueName("shm");
    platform::SharedMemory shm;
    ASSERT_TRUE(shm.Create(name, 65536));
    EXPECT_TRUE(shm.Created());
    EXPECT_TRUE(platform::SharedMemory::Exists(name));
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        platform::SharedMemory child;
        if (!child.Open(name, 65536))
            ::_exit(2);
        std::memcpy(static_cast<char*>(child.Data()) + 100, "hello", 5);
        ::_exit(0);
    }
    ASSERT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(std::memcmp(static_cast<char*>(shm.Data()) + 100, "hello", 5), 0);

    platform::SharedMemory tooBig;
    EXPECT_FALSE(tooBig.Open(name, 65537)); // would map past the section's end
    platform::SharedMemory second;
    ASSERT_TRUE(second.Create(name, 65536)); // existing: opened, not created
    EXPECT_FALSE(second.Created());
    second.Close();
    shm.Close(); // the creator removes the name
    EXPECT_FALSE(platform::SharedMemory::Exists(name));
    platform::SharedMemory missing;
    EXPECT_FALSE(missing.Open(name, 16));
}

TEST(NamedMutex, ExcludesThreadsAndTimesOut) {
    const std::string name = UniqueName("mtx-threads");
    platform::NamedMutex a, b;
    ASSERT_TRUE(a.Create(name));
    ASSERT_TRUE(b.Open(name));
    ASSERT_EQ(a.Lock(1000), platform::NamedMutex::LockResult::Acquired);
    std::atomic<int> other{-1};
    std::thread t([&] { other = static_cast<int>(b.Lock(50)); });
    t.join();
    EXPECT_EQ(other.load(), static_cast<int>(platform::NamedMutex::LockResult::TimedOut));
    EXPECT_EQ(a.Lock(10), platform::NamedMutex::LockResult::Failed); // no self-deadlock
    EXPECT_TRUE(a.Unlock());
    std::thread t2([&] {
        other = static_cast<int>(b.Lock(1000));
        b.Unlock();
    });
    t2.join();
    EXPECT_EQ(other.load(), static_cast<int>(platform::NamedMutex::LockResult::Acquired));
    EXPECT_TRUE(platform::NamedMutex::Exists(name));
    EXPECT_TRUE(platform::NamedMutex::Remove(name));
    platform::NamedMutex c;
    EXPECT_FALSE(c.Open(name));
    EXPECT_EQ(c.Lock(1), platform::NamedMutex::LockResult::Failed);
}

TEST(NamedMutex, DeadOwnerDoesNotKeepIt) {
    const std::string name = UniqueName("mtx-dead");
    platform::NamedMutex m;
    ASSERT_TRUE(m.Create(name));
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        platform::NamedMutex child;
        if (!child.Open(name) || child.Lock(1000) != platform::NamedMutex::LockResult::Acquired)
            ::_exit(2);
        ::_exit(0); // dies holding it
    }
    ASSERT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(m.Lock(1000), platform::NamedMutex::LockResult::Abandoned);
    EXPECT_TRUE(m.Unlock());
    EXPECT_EQ(m.Lock(1000), platform::NamedMutex::LockResult::Acquired);
    EXPECT_TRUE(m.Unlock());
    platform::NamedMutex::Remove(name);
}
