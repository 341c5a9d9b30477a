#include "platform/WorkerRun.h"

#include "platform/ThreadStart.h"
#include "platform/WorkerWait.h"

#include <system_error>
#include <thread>

namespace platform {

bool RunWorker(std::atomic<bool>& done, const std::function<void()>& work, int sleepMs,
               const std::function<void()>& betweenChecks) {
    WorkerWake ended;
    std::thread worker;
    try {
        worker = StartThread([&done, &work, &ended] {
            work();
            done.store(true, std::memory_order_release);
            ended.Signal();
        });
    } catch (const std::system_error&) {
        return false;
    }
    WaitForWorker(ended, sleepMs, betweenChecks);
    worker.join();
    return true;
}

} // namespace platform
