#include "platform/SystemInfo.h"
#include "tests/support/FixtureKit.h"

#include <gtest/gtest.h>
#include <regex>

using namespace testsupport;

namespace {
const std::string kProbe = std::string(BRULIN_BINARY_DIR) + "/tests/oom_probe";
const std::string kEnv = "ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=0 ";
} // namespace

TEST(OperatorNew, OrdinaryAllocationsWork) {
    EXPECT_EQ(testsupport::Run(kEnv + ShellQuote(kProbe) + " small"), 0);
}

TEST(OperatorNew, FailureIsLoggedAndEndsTheProcess) {
    const std::string dir = ScratchDir("oom");
    std::string output;
    const int status = testsupport::Run("cd " + ShellQuote(dir) + " && " + kEnv + ShellQuote(kProbe) + " huge", &output);
    EXPECT_EQ(status, platform::kOutOfMemoryExitStatus) << output;
    EXPECT_EQ(output.find("allocated"), std::string::npos);
    std::vector<std::uint8_t> bytes = ReadFileBytes(dir + "/DefaultLog.txt");
    const std::string log(bytes.begin(), bytes.end());
    const std::regex expected("Failed to alloc 0x800000000000 bytes\r\n"
                              "Memory status:\r\n"
                              "Total physical memory: *[0-9]+ MB\tAvailable physical memory: *[0-9]+ MB\r\n"
                              "Total   page    files: *[0-9]+ MB\tAvailable    page   files: *[0-9]+ MB\r\n");
    EXPECT_TRUE(std::regex_match(log, expected)) << log;
}
