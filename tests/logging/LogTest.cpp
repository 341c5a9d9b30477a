#include "logging/Log.h"
#include "logging/LogSink.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

TEST(Log, InfoBeforeInitGoesToDefaultLog) {
    LogInfo("abc");
    InitLog("Other.log", LOGLEVEL_INFO, LOGTYPE_FILE);
    LogInfo("%d-%s", 7, "x");
    std::ifstream in("DefaultLog.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "abc\r\n7-x\r\n");
}

// The log file is emptied at each start, but never through a link planted at its name: what the
// link names is left whole (or never made), and nothing is written.
TEST(Log, ADirectLogIsNeverOpenedThroughALink) {
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists);
        const std::string target = "log-link-target.txt";
        std::remove(target.c_str());
        std::remove("linked.log");
        if (targetExists)
            std::ofstream(target) << "keep\n";
        ASSERT_EQ(symlink(target.c_str(), "linked.log"), 0);
        CDirectLog log;
        EXPECT_EQ(log.Open("linked.log"), 0);
        EXPECT_EQ(log.Write("x", 1), 0);
        std::ifstream in(target, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        EXPECT_EQ(ss.str(), targetExists ? "keep\n" : "");
        EXPECT_EQ(access(target.c_str(), F_OK) == 0, targetExists);
        std::remove("linked.log");
        std::remove(target.c_str());
    }
    // A file of its own is emptied.
    std::ofstream("own.log") << "old";
    CDirectLog log;
    EXPECT_EQ(log.Open("own.log"), 1);
    EXPECT_EQ(log.Write("new", 3), 1);
    std::ifstream in("own.log", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "new");
}
