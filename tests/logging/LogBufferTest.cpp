#include "logging/Log.h"
#include "logging/LogBuffer.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"
#include "tests/support/FixtureKit.h"

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace testsupport;

namespace {

// The log buffer's failures reach standard error at the trace level with BRULIN_DEBUG_OUTPUT=1.
const int kEnableDebugOutput = ::setenv("BRULIN_DEBUG_OUTPUT", "1", 1);
void TraceToStandardError() { InitLog("logbuffer-trace.log", LOGLEVEL_TRACE, LOGTYPE_FILE); }

std::string Unique(const char* what) {
    return std::string("brulin-logtest-") + what + "-" + std::to_string(::getpid());
}

int WaitChild(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::uint32_t& Count(std::vector<std::uint8_t>& mem) { return *reinterpret_cast<std::uint32_t*>(mem.data()); }

} // namespace

TEST(LogBuffer, FitsWholeMessagesOnly) {
    std::vector<std::uint8_t> mem(kSharedLogBufferSize, 0xCC);
    CLogBuffer b;
    EXPECT_EQ(b.Append("x", 1), 0); // detached
    EXPECT_EQ(b.Attach(nullptr, 100), 0);
    EXPECT_EQ(b.Attach(mem.data(), 3), 0);
    ASSERT_EQ(b.Attach(mem.data(), kSharedLogBufferSize), 1);
    EXPECT_EQ(Count(mem), 0u);
    EXPECT_EQ(b.Append(nullptr, 3), 0);
    EXPECT_EQ(b.Append("abc", 0), 0);
    EXPECT_EQ(b.Append("abc", -1), 0);

    Count(mem) = 65530;
    EXPECT_EQ(b.Append("abc", 3), 0); // would need 65533
    EXPECT_EQ(Count(mem), 65530u);
    EXPECT_EQ(b.Append("ab", 2), 1);  // exactly full: 65532
    EXPECT_EQ(Count(mem), 65532u);
    EXPECT_EQ(std::memcmp(mem.data() + 4 + 65530, "ab", 2), 0);
    EXPECT_EQ(b.Append("a", 1), 0);

    // A damaged count is refused before it is used for anything.
    for (std::uint32_t bad : {65533u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        Count(mem) = bad;
        EXPECT_EQ(b.Append("a", 1), 0) << bad;
        EXPECT_EQ(b.WriteToFile(STDERR_FILENO), 0) << bad;
        EXPECT_EQ(Count(mem), bad);
    }
    b.Clear();
    EXPECT_EQ(b.GetUsed(), 0u);
}

TEST(FileMappingLog, WriterProcessAndDrainingProcess) {
    const std::string mapping = Unique("map"), mutex = Unique("mtx");
    CFileMappingLog loader(CFileMappingLog::kCreateMode, mapping.c_str(), mutex.c_str());
    ASSERT_TRUE(loader.IsMapped());
    const std::string logPath = ScratchDir("drain") + "/BrulinLog.log";
    platform::FileHandle log = platform::OpenFile(logPath, platform::OpenMode::CreateAlways);
    ASSERT_TRUE(log.Valid());

    constexpr int kMessages = 2000; // about 40 KiB: drained while written, never full
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        // The main program: its shared-buffer sink, reached through InitLog.
        CFileMappingLog::SetDefaultNames(mapping.c_str(), mutex.c_str());
        InitLog("ignored.log", LOGLEVEL_TRACE, LOGTYPE_FILEMAPPING);
        for (int i = 0; i < kMessages; ++i) {
            LogInfo("message %05d", i);
            if (i % 100 == 0)
                ReleaseTrace("trace %d", i); // never reaches the buffer
        }
        ::_exit(0);
    }
    int status = -1;
    for (;;) {
        EXPECT_EQ(loader.FlushToFile(log.Get()), 1);
        int st = 0;
        if (::waitpid(pid, &st, WNOHANG) == pid) {
            status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            break;
        }
    }
    ASSERT_EQ(status, 0);
    EXPECT_EQ(loader.FlushToFile(log.Get()), 1);
    log.Close();
    std::string expected;
    char line[32];
    for (int i = 0; i < kMessages; ++i) {
        std::snprintf(line, sizeof line, "message %05d\r\n", i);
        expected += line;
    }
    std::vector<std::uint8_t> got = ReadFileBytes(logPath);
    EXPECT_EQ(std::string(got.begin(), got.end()), expected);
    EXPECT_FALSE(ReadFileBytes(logPath).empty());
    EXPECT_EQ(loader.FlushToFile(-1), 0);
    platform::NamedMutex::Remove(mutex);
}

TEST(FileMappingLog, FailedDrainStillEmptiesTheBuffer) {
    const std::string mapping = Unique("map"), mutex = Unique("mtx");
    CFileMappingLog loader(CFileMappingLog::kCreateMode, mapping.c_str(), mutex.c_str());
    CFileMappingLog writer(CFileMappingLog::kOpenMode, mapping.c_str(), mutex.c_str());
    ASSERT_TRUE(writer.IsMapped());
    EXPECT_EQ(writer.Open("anything"), 1);
    EXPECT_EQ(writer.Write("lost\r\n", 6), 1);
    const std::string path = ScratchDir("faildrain") + "/ro.log";
    ASSERT_TRUE(WriteFileBytes(path, {}));
    platform::FileHandle readOnly = platform::OpenReadOnly(path);
    EXPECT_EQ(loader.FlushToFile(readOnly.Get()), 0);
    platform::FileHandle out = platform::OpenFile(path, platform::OpenMode::CreateAlways);
    EXPECT_EQ(writer.Write("kept\r\n", 6), 1);
    EXPECT_EQ(loader.FlushToFile(out.Get()), 1);
    std::vector<std::uint8_t> got = ReadFileBytes(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), "kept\r\n");
    platform::NamedMutex::Remove(mutex);
}

TEST(FileMappingLog, MutexBusyOrAbandoned) {
    ASSERT_EQ(kEnableDebugOutput, 0);
    TraceToStandardError();
    const std::string mapping = Unique("map"), mutex = Unique("mtx");
    CFileMappingLog loader(CFileMappingLog::kCreateMode, mapping.c_str(), mutex.c_str());
    platform::NamedMutex other;
    ASSERT_TRUE(other.Open(mutex));

    // Held by another thread past the wait: the message is lost and said so.
    ASSERT_EQ(other.Lock(1000), platform::NamedMutex::LockResult::Acquired);
    int result = -1;
    testing::internal::CaptureStderr();
    std::thread t([&] { result = loader.Write("busy\r\n", 6); });
    t.join();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to request the permission to write to buffer!\n");
    EXPECT_EQ(result, 0);
    other.Unlock();

    // Its owner died holding it: the next writer still gets it.
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        platform::NamedMutex m;
        ::_exit(m.Open(mutex) && m.Lock(1000) == platform::NamedMutex::LockResult::Acquired ? 0 : 2);
    }
    ASSERT_EQ(WaitChild(pid), 0);
    EXPECT_EQ(loader.Write("after\r\n", 7), 1);
    EXPECT_EQ(loader.Write("again\r\n", 7), 1); // and it was released after use
    const std::string path = ScratchDir("abandoned") + "/out.log";
    platform::FileHandle out = platform::OpenFile(path, platform::OpenMode::CreateAlways);
    EXPECT_EQ(loader.FlushToFile(out.Get()), 1);
    std::vector<std::uint8_t> got = ReadFileBytes(path);
    EXPECT_EQ(std::string(got.begin(), got.end()), "after\r\nagain\r\n");
    platform::NamedMutex::Remove(mutex);
}

TEST(FileMappingLog, MissingSectionInOpenMode) {
    ASSERT_EQ(kEnableDebugOutput, 0);
    TraceToStandardError();
    const std::string mapping = Unique("nomap"), mutex = Unique("mtx");
    testing::internal::CaptureStderr();
    CFileMappingLog writer(CFileMappingLog::kOpenMode, mapping.c_str(), mutex.c_str());
    EXPECT_EQ(writer.Write("x\r\n", 3), 0);
    EXPECT_EQ(writer.FlushToFile(STDOUT_FILENO), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Failed to create map file!\n"
              "Failed to request the permission to write to buffer!\n"
              "Failed to request the permission to write to log file!\n");
    platform::NamedMutex::Remove(mutex);
}
