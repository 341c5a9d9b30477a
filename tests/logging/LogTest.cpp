#include "logging/Log.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

TEST(Log, InfoBeforeInitGoesToDefaultLog) {
    LogInfo("abc");
    InitLog("Other.log", LOGLEVEL_INFO, LOGTYPE_FILE);
    LogInfo("%d-%s", 7, "x");
    std::ifstream in("DefaultLog.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "abc\r\n7-x\r\n");
}
