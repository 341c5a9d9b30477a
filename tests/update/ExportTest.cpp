#include "tests/support/FixtureKit.h"
#include "tests/update/LoopbackHttpServer.h"
#include "update/AutoUpdate.h"

#include <cctype>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>

namespace {

const int kNoProxy = (::setenv("no_proxy", "*", 1), ::setenv("NO_PROXY", "*", 1), 0);

const std::string kLibrary = std::string(BRULIN_BINARY_DIR) + "/update/libPennat.so";

} // namespace

TEST(PennatLibrary, ExportsOnlyItsEntryPoint) {
    ASSERT_TRUE(testsupport::RequireTool("nm"));
    std::string out;
    ASSERT_TRUE(testsupport::MustRun("nm -D --defined-only " + testsupport::ShellQuote(kLibrary),
                                     &out));
    // Lines are "<address> <type> <name>"; upper-case types are global symbols.
    std::set<std::string> globals;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && type.size() == 1 && std::isupper(type[0])) {
            globals.insert(name);
        }
    }
    EXPECT_EQ(globals, std::set<std::string>{"GetAutoUpdateInstance"}) << out;
}

TEST(PennatLibrary, LoadsAndChecksThroughItsEntryPoint) {
    LoopbackHttpServer server;
    ASSERT_TRUE(server.Running());
    HttpReply reply;
    reply.body = "[VERSION]\nProduct Version=7.6.1.1\nURL=http://downloads.example/7611\n";
    server.Route("/version.ini", reply);

    void* library = ::dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << ::dlerror();
    using GetInstance = IAutoUpdate* (*)();
    auto get = reinterpret_cast<GetInstance>(::dlsym(library, "GetAutoUpdateInstance"));
    ASSERT_NE(get, nullptr);
    EXPECT_EQ(::dlsym(library, "_ZN6pennat16ParseVersionFileEPKhmRNS_15VersionFileInfoE"),
              nullptr);
    IAutoUpdate* update = get();
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(get(), update);
    // The library's own instance, not this program's copy.
    EXPECT_NE(update, GetAutoUpdateInstance());

    const std::string url = server.Url("/version.ini");
    EXPECT_EQ(update->CheckUpdate(url.c_str(), nullptr), AUTOUPDATE_STATUS_OK);
    EXPECT_EQ(update->CompareVersion(7u << 16 | 6, 1u << 16), AUTOUPDATE_STATUS_OK);
    char version[32] = {};
    EXPECT_EQ(update->GetNewVersion(version), 0);
    EXPECT_STREQ(version, "7.6.1.1");
    char address[260] = {};
    EXPECT_EQ(update->GetDownloadURL(address), 0);
    EXPECT_STREQ(address, "http://downloads.example/7611");
    ::dlclose(library);
}
