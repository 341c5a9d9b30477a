#include "platform/ThreadStart.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

thread_local bool t_hookRan = false;
std::atomic<int> g_hookCalls{0};

void CountingHook() {
    t_hookRan = true;
    ++g_hookCalls;
}

} // namespace

TEST(ThreadStart, TheHookRunsOnTheNewThreadBeforeItsWork) {
    platform::SetThreadStartHook(CountingHook);
    bool hookSeenByWork = false;
    int sum = 0;
    platform::StartThread([&](int a, int b) {
        hookSeenByWork = t_hookRan;
        sum = a + b;
    }, 2, 3).join();
    EXPECT_TRUE(hookSeenByWork);
    EXPECT_EQ(sum, 5);
    EXPECT_EQ(g_hookCalls.load(), 1);
    EXPECT_FALSE(t_hookRan); // not on the thread that started it

    platform::SetThreadStartHook(nullptr);
    bool ran = false;
    platform::StartThread([&] { ran = true; }).join();
    EXPECT_TRUE(ran);
    EXPECT_EQ(g_hookCalls.load(), 1);
}

TEST(ThreadStart, TheProgramStartsNoThreadAroundIt) {
    // Threads made directly would miss the hook (and with it the crash handler's alternate
    // signal stack): every source file of the libraries and programs starts its threads
    // through platform::StartThread.
    namespace fs = std::filesystem;
    const fs::path root = BRULIN_SOURCE_DIR;
    const std::regex direct(R"(std::(thread|jthread)\s*(\(|\{)|std::(thread|jthread)\s+\w+\s*(\(|\{)|)"
                            R"(\bpthread_create\s*\(|\bstd::async\s*\(|m_threads\.emplace_back\s*\()");
    std::vector<std::string> found;
    for (const char* top : {"platform", "logging", "storage", "filesystems", "carving", "recovery", "ui",
                            "tools", "app", "loader", "update"}) {
        if (!fs::exists(root / top))
            continue;
        for (const auto& e : fs::recursive_directory_iterator(root / top)) {
            const std::string ext = e.path().extension().string();
            if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h"))
                continue;
            // ThreadStart.h starts them; ThreadInterpose.cpp is the programs' pthread_create.
            if (e.path().filename() == "ThreadStart.h" || e.path().filename() == "ThreadInterpose.cpp")
                continue;
            std::ifstream in(e.path());
            std::string line;
            for (int n = 1; std::getline(in, line); ++n)
                if ((line.find("thread") != std::string::npos || line.find("async") != std::string::npos) &&
                    std::regex_search(line, direct))
                    found.push_back(fs::relative(e.path(), root).string() + ":" + std::to_string(n) + ": " + line);
        }
    }
    std::ostringstream list;
    for (const auto& f : found)
        list << f << "\n";
    EXPECT_TRUE(found.empty()) << list.str();
}
