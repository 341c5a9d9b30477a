#include "platform/WorkerRun.h"
#include "platform/ThreadStart.h"
#include "platform/WorkerWait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace {

// From here on this process can start no thread: clone and clone3 fail with EAGAIN, as they
// do when the system is out of threads.
bool RefuseNewThreads() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone, 2, 0),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_clone3, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EAGAIN & SECCOMP_RET_DATA)),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

thread_local bool t_startHookRan = false;
void MarkStart() {
    t_startHookRan = true;
}

} // namespace

TEST(WorkerRun, RunsTheWorkOnAStartedThreadWhileTheCallerWaitsThroughTheHook) {
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> pumps{0};
    std::atomic<int> pumpSleep{-1};
    bool pumpedOnCaller = true;
    platform::SetPumpHook([&](int sleepMs, const platform::WorkerWake&) {
        pumpedOnCaller = pumpedOnCaller && std::this_thread::get_id() == caller;
        pumpSleep = sleepMs;
        ++pumps;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    platform::SetThreadStartHook(MarkStart);

    std::atomic<bool> done{false};
    std::thread::id workedOn;
    bool startHookSeen = false;
    int betweenChecks = 0;
    bool checksOnCaller = true;
    const bool ran = platform::RunWorker(
        done,
        [&] {
            workedOn = std::this_thread::get_id();
            startHookSeen = t_startHookRan;
            // Finishes only once the caller has pumped a few times, so the wait is seen going
            // through the hook.
            while (pumps.load() < 3)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        },
        7,
        [&] {
            checksOnCaller = checksOnCaller && std::this_thread::get_id() == caller;
            ++betweenChecks;
        });
    platform::SetThreadStartHook(nullptr);
    platform::SetPumpHook({});

    EXPECT_TRUE(ran);
    EXPECT_TRUE(done.load());
    EXPECT_NE(workedOn, std::thread::id());
    EXPECT_NE(workedOn, caller);
    EXPECT_TRUE(startHookSeen);
    EXPECT_GE(pumps.load(), 3);
    EXPECT_EQ(pumpSleep.load(), 7);
    EXPECT_TRUE(pumpedOnCaller);
    EXPECT_GE(betweenChecks, 2);
    EXPECT_TRUE(checksOnCaller);
}

TEST(WorkerRun, TheHookWaitsOnAWakeThatTheEndOfTheWorkSignals) {
    // The work ends only once the hook is waiting, and the hook's one pause would outlast any
    // test: the waiter is woken by the end of the work, not by the pause running out.
    std::atomic<bool> hookWaiting{false};
    int pumps = 0;
    bool signalledBefore = true;
    bool signalledAfter = false;
    platform::SetPumpHook([&](int sleepMs, const platform::WorkerWake& wake) {
        ++pumps;
        signalledBefore = wake.Signalled();
        hookWaiting = true;
        signalledAfter = wake.WaitFor(sleepMs);
    });
    std::atomic<bool> done{false};
    int betweenChecks = 0;
    const bool ran = platform::RunWorker(
        done,
        [&] {
            while (!hookWaiting.load())
                std::this_thread::yield();
        },
        24 * 60 * 60 * 1000, [&] { ++betweenChecks; });
    platform::SetPumpHook({});

    EXPECT_TRUE(ran);
    EXPECT_TRUE(done.load());
    EXPECT_EQ(pumps, 1);
    EXPECT_FALSE(signalledBefore);
    EXPECT_TRUE(signalledAfter);
    EXPECT_EQ(betweenChecks, 0);
}

TEST(WorkerRun, WithoutAHookTheCallerStillRunsItsChecksWhileTheWorkGoesOn) {
    std::atomic<int> checks{0};
    std::atomic<bool> done{false};
    const bool ran = platform::RunWorker(
        done,
        [&] {
            while (checks.load() < 3)
                std::this_thread::yield();
        },
        1, [&] { ++checks; });
    EXPECT_TRUE(ran);
    EXPECT_TRUE(done.load());
    EXPECT_GE(checks.load(), 3);
}

TEST(WorkerWake, TellsWhetherTheWorkHasEnded) {
    platform::WorkerWake wake;
    EXPECT_FALSE(wake.Signalled());
    EXPECT_FALSE(wake.WaitFor(0));
    EXPECT_FALSE(wake.WaitFor(1));
    std::thread worker([&] { wake.Signal(); });
    EXPECT_TRUE(wake.WaitFor(-1));
    worker.join();
    EXPECT_TRUE(wake.Signalled());
    EXPECT_TRUE(wake.WaitFor(0));
    wake.Signal(); // a second end changes nothing
    EXPECT_TRUE(wake.WaitFor(0));
}

// A flag set by someone who wakes nobody is still seen, through the hook's pauses.
TEST(WorkerWait, AFlagNobodySignalsIsCheckedAfterEachPause) {
    std::atomic<bool> done{false};
    int pumps = 0;
    bool wakeSignalled = false;
    platform::SetPumpHook([&](int, const platform::WorkerWake& wake) {
        wakeSignalled = wakeSignalled || wake.Signalled();
        if (++pumps == 3)
            done = true;
    });
    platform::WaitForWorker(done, 0);
    platform::SetPumpHook({});
    EXPECT_EQ(pumps, 3);
    EXPECT_FALSE(wakeSignalled);
}

TEST(WorkerRunDeathTest, AThreadThatCannotStartIsReportedAndTheWorkDoesNotRun) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!RefuseNewThreads())
                _exit(3);
            std::atomic<bool> done{false};
            bool worked = false;
            const bool ran = platform::RunWorker(done, [&] { worked = true; });
            _exit(!ran && !worked && !done.load() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}
