#include "platform/WorkerRun.h"

#include "platform/ThreadStart.h"
#include "platform/WorkerWait.h"

#include <system_error>
#include <thread>

namespace platform {

bool RunWorker(std::atomic<bool>& done, const std::function<void()>& work, int sleepMs,
               const std::function<void()>& betweenChecks) {
    std::thread worker;
    try {
        worker = StartThread([&done, &work] {
            work();
            done.store(true, std::memory_order_release);
        });
    } catch (const std::system_error&) {
        return false;
    }
    WaitForWorker(done, sleepMs, betweenChecks);
    worker.join();
    return true;
}

} // namespace platform
