#include "tests/support/FixtureKit.h"
#include "tests/update/LoopbackHttpServer.h"
#include "update/AutoUpdateImp.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Never send the loopback requests through a proxy the environment may name.
const int kNoProxy = (::setenv("no_proxy", "*", 1), ::setenv("NO_PROXY", "*", 1), 0);

constexpr int kOk = AUTOUPDATE_STATUS_OK;
constexpr int kNoNewVersion = AUTOUPDATE_STATUS_NO_NEW_VERSION;
constexpr int kDownloadFailed = AUTOUPDATE_STATUS_DOWNLOAD_FAILED;
constexpr int kReadFailed = AUTOUPDATE_STATUS_READ_FAILED;

constexpr unsigned Half(unsigned a, unsigned b) {
    return a << 16 | b;
}

std::string VersionFile(const std::string& version, const std::string& url) {
    return "[VERSION]\r\nProduct Version=" + version + "\r\nDescription=Release " + version +
           "\r\nURL=" + url + "\r\n";
}

HttpReply Body(std::string body) {
    HttpReply r;
    r.body = std::move(body);
    return r;
}

HttpReply Redirect(const std::string& location) {
    HttpReply r;
    r.status = 302;
    r.headers = {"Location: " + location};
    return r;
}

// A version file padded with comment lines to exactly `size` bytes.
std::string PaddedVersionFile(std::size_t size) {
    std::string text = VersionFile("9.9.9.9", "http://downloads.example/big");
    while (text.size() < size) {
        std::size_t line = std::min<std::size_t>(size - text.size(), 80);
        text += line >= 3 ? ";" + std::string(line - 3, 'x') + "\r\n" : std::string(line, '\n');
    }
    return text;
}

pennat::DownloadLimits TestLimits(long totalMs) {
    pennat::DownloadLimits limits;
    limits.connectTimeoutMs = 2000;
    limits.totalTimeoutMs = totalMs;
    return limits;
}

class AutoUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server.Running());
        const std::size_t cap = pennat::DownloadLimits{}.maxBytes;
        server.Route("/good.ini", Body(VersionFile("7.6.1.0", "http://downloads.example/7610")));
        server.Route("/newer.ini",
                     Body(VersionFile("7.6.1.1", "https://downloads.example/brulin-7611.tgz")));
        server.Route("/older.ini", Body(VersionFile("7.5.0.0", "http://downloads.example/750")));
        server.Route("/short.ini", Body("[version]\n  product version = 7.7 \nurl='http://s/'\n"));
        server.Route("/malformed.ini", Body(VersionFile("7.x.1.0", "http://downloads.example/")));
        server.Route("/wrapped.ini", Body(VersionFile("7.6.65536.0", "http://d.example/")));
        server.Route("/other-section.ini", Body("[UPDATE]\nProduct Version=9.0.0.0\nURL=http://x/\n"));
        server.Route("/empty.ini", Body(""));
        server.Route("/page.html", Body("<!DOCTYPE html>\n<html><head><title>Maintenance</title>"
                                        "</head><body><p>Back soon.</p></body></html>\n"));
        server.Route("/cap.ini", Body(PaddedVersionFile(cap)));
        server.Route("/big.ini", Body(PaddedVersionFile(cap + 1)));
        HttpReply stream = Body(PaddedVersionFile(4 * cap));
        stream.sendLength = false;
        server.Route("/big-stream.ini", stream);
        HttpReply error = Body(VersionFile("9.0.0.0", "http://x/"));
        error.status = 500;
        server.Route("/error.ini", error);
        server.Route("/moved.ini", Redirect("/newer.ini"));
        server.Route("/moved-absolute.ini", Redirect(server.Url("/newer.ini")));
        server.Route("/loop.ini", Redirect("/loop.ini"));
        server.Route("/to-file.ini", Redirect("file:///etc/hostname"));
        HttpReply noLocation;
        noLocation.status = 302;
        noLocation.body = VersionFile("9.0.0.0", "http://x/");
        server.Route("/no-location.ini", noLocation);
        HttpReply slow = Body(VersionFile("9.0.0.0", "http://x/"));
        slow.delayMs = 60000;
        server.Route("/slow.ini", slow);
    }

    LoopbackHttpServer server;
};

struct CheckCase {
    const char* path;
    int checkStatus;
    unsigned callerHigh;
    unsigned callerLow;
    int compareStatus;
    const char* newVersion; // when compareStatus is 0
    const char* url;        // what GetDownloadURL gives after the check
};

} // namespace

TEST_F(AutoUpdateTest, StatusOfEachKindOfAnswer) {
    const unsigned h = Half(7, 6);
    const unsigned l = Half(1, 0);
    const CheckCase cases[] = {
        {"/good.ini", kOk, h, l, kNoNewVersion, nullptr, "http://downloads.example/7610"},
        {"/newer.ini", kOk, h, l, kOk, "7.6.1.1", "https://downloads.example/brulin-7611.tgz"},
        {"/older.ini", kOk, h, l, kNoNewVersion, nullptr, "http://downloads.example/750"},
        {"/short.ini", kOk, h, l, kOk, "7.7.0.0", "http://s/"},
        {"/malformed.ini", kReadFailed, h, l, kReadFailed, nullptr, ""},
        {"/wrapped.ini", kReadFailed, h, l, kReadFailed, nullptr, ""},
        {"/other-section.ini", kReadFailed, h, l, kReadFailed, nullptr, ""},
        {"/empty.ini", kReadFailed, h, l, kReadFailed, nullptr, ""},
        // An error page served with status 200 never reads as version 0.0.0.0.
        {"/page.html", kReadFailed, 0, 0, kReadFailed, nullptr, ""},
        {"/cap.ini", kOk, h, l, kOk, "9.9.9.9", "http://downloads.example/big"},
        {"/big.ini", kDownloadFailed, h, l, kDownloadFailed, nullptr, ""},
        {"/big-stream.ini", kDownloadFailed, h, l, kDownloadFailed, nullptr, ""},
        {"/not-there.ini", kDownloadFailed, 0, 0, kDownloadFailed, nullptr, ""},
        {"/error.ini", kDownloadFailed, 0, 0, kDownloadFailed, nullptr, ""},
        {"/moved.ini", kOk, h, l, kOk, "7.6.1.1", "https://downloads.example/brulin-7611.tgz"},
        {"/moved-absolute.ini", kOk, h, l, kOk, "7.6.1.1",
         "https://downloads.example/brulin-7611.tgz"},
        {"/loop.ini", kDownloadFailed, 0, 0, kDownloadFailed, nullptr, ""},
        {"/to-file.ini", kDownloadFailed, 0, 0, kDownloadFailed, nullptr, ""},
        {"/no-location.ini", kDownloadFailed, 0, 0, kDownloadFailed, nullptr, ""},
    };
    CAutoUpdateImp update(TestLimits(5000));
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string url = server.Url(c.path);
        EXPECT_EQ(update.CheckUpdate(url.c_str(), nullptr), c.checkStatus);
        EXPECT_EQ(update.CompareVersion(c.callerHigh, c.callerLow), c.compareStatus);
        char version[32];
        std::memset(version, 'Z', sizeof(version));
        if (c.compareStatus == kOk) {
            EXPECT_EQ(update.GetNewVersion(version), 0);
            EXPECT_STREQ(version, c.newVersion);
        } else {
            EXPECT_EQ(update.GetNewVersion(version), 1);
            EXPECT_EQ(version[0], 'Z');
        }
        char address[CAutoUpdateImp::kFieldSize];
        std::memset(address, 'Z', sizeof(address));
        EXPECT_EQ(update.GetDownloadURL(address), 0);
        EXPECT_STREQ(address, c.url);
    }
    EXPECT_EQ(server.Hits("/loop.ini"), 1 + pennat::DownloadLimits{}.maxRedirects);
    EXPECT_EQ(server.Hits("/newer.ini"), 3);
}

TEST_F(AutoUpdateTest, AddressesThatAreNotHttpFail) {
    CAutoUpdateImp update(TestLimits(5000));
    // A port with nobody listening.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    ::close(fd);
    const std::string closed = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/";

    const std::string local = testsupport::ScratchDir("update-file") + "/version.ini";
    const std::string text = VersionFile("9.0.0.0", "http://x/");
    ASSERT_TRUE(testsupport::WriteFileBytes(local, {text.begin(), text.end()}));
    const std::string fileUrl = "file://" + local;
    const std::string ftpUrl = "ftp://127.0.0.1:" + std::to_string(server.Port()) + "/good.ini";
    // None of these may leave the machine: refused schemes, a closed local port, and
    // addresses that do not parse.
    const char* urls[] = {fileUrl.c_str(), ftpUrl.c_str(), closed.c_str(), "", "http://",
                          "://127.0.0.1/", nullptr};
    for (const char* url : urls) {
        SCOPED_TRACE(url ? url : "(null)");
        EXPECT_EQ(update.CheckUpdate(url, nullptr), kDownloadFailed);
        EXPECT_EQ(update.CompareVersion(0, 0), kDownloadFailed);
        EXPECT_EQ(update.GetNewVersion(nullptr), 1);
    }
    EXPECT_EQ(server.Hits("/good.ini"), 0);
}

TEST_F(AutoUpdateTest, SlowAnswerTimesOut) {
    CAutoUpdateImp update(TestLimits(300));
    const std::string url = server.Url("/slow.ini");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(update.CheckUpdate(url.c_str(), nullptr), kDownloadFailed);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10)); // the server would answer after a minute
    EXPECT_EQ(server.Hits("/slow.ini"), 1);
}

TEST_F(AutoUpdateTest, CompareVersionAgainstTheDownloadedOne) {
    CAutoUpdateImp update(TestLimits(5000));
    const std::string url = server.Url("/good.ini"); // 7.6.1.0
    ASSERT_EQ(update.CheckUpdate(url.c_str(), nullptr), kOk);
    struct Case {
        unsigned high, low;
        int status;
    };
    const Case cases[] = {
        {Half(7, 6), Half(1, 0), kNoNewVersion},
        {Half(7, 6), Half(1, 1), kNoNewVersion},
        {Half(7, 6), Half(0, 65535), kOk},
        {Half(7, 5), Half(65535, 65535), kOk},
        {Half(7, 7), 0, kNoNewVersion},
        {Half(8, 0), 0, kNoNewVersion},
        {0, 0, kOk},
        {0xFFFFFFFF, 0, kNoNewVersion}, // compared unsigned
        {Half(7, 6), 0xFFFFFFFF, kNoNewVersion},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.high) + "/" + std::to_string(c.low));
        EXPECT_EQ(update.CompareVersion(c.high, c.low), c.status);
        char version[32] = "untouched";
        EXPECT_EQ(update.GetNewVersion(version), c.status == kOk ? 0 : 1);
        EXPECT_STREQ(version, c.status == kOk ? "7.6.1.0" : "untouched");
    }
}

TEST_F(AutoUpdateTest, FailedCheckForgetsThePreviousOne) {
    CAutoUpdateImp update(TestLimits(5000));
    const std::string newer = server.Url("/newer.ini");
    ASSERT_EQ(update.CheckUpdate(newer.c_str(), nullptr), kOk);
    ASSERT_EQ(update.CompareVersion(Half(7, 6), Half(1, 0)), kOk);

    const std::string missing = server.Url("/missing.ini");
    EXPECT_EQ(update.CheckUpdate(missing.c_str(), nullptr), kDownloadFailed);
    // Neither the old version nor the old address survives, and comparing does not turn the
    // failure into "no newer version".
    EXPECT_EQ(update.CompareVersion(Half(7, 6), Half(1, 0)), kDownloadFailed);
    char version[32] = "untouched";
    EXPECT_EQ(update.GetNewVersion(version), 1);
    EXPECT_STREQ(version, "untouched");
    char address[CAutoUpdateImp::kFieldSize] = "untouched";
    EXPECT_EQ(update.GetDownloadURL(address), 0);
    EXPECT_STREQ(address, "");
    EXPECT_EQ(update.GetDownloadURL(nullptr), 0);

    // A later good check works again.
    ASSERT_EQ(update.CheckUpdate(newer.c_str(), nullptr), kOk);
    EXPECT_EQ(update.CompareVersion(Half(7, 6), Half(1, 0)), kOk);
    EXPECT_EQ(update.GetNewVersion(nullptr), 0);
}

namespace {

class RecordingProgress : public IDownloadProgress {
public:
    explicit RecordingProgress(int answer) : m_answer(answer) {}
    int OnProgress(unsigned long long received, unsigned long long total) override {
        ++calls;
        lastReceived = received;
        lastTotal = total;
        return m_answer;
    }
    int calls = 0;
    unsigned long long lastReceived = 0;
    unsigned long long lastTotal = 0;

private:
    int m_answer;
};

} // namespace

TEST_F(AutoUpdateTest, ProgressIsReportedAndCanCancel) {
    CAutoUpdateImp update(TestLimits(5000));
    const std::string url = server.Url("/cap.ini");
    const std::size_t size = pennat::DownloadLimits{}.maxBytes;

    RecordingProgress watch(0);
    EXPECT_EQ(update.CheckUpdate(url.c_str(), &watch), kOk);
    EXPECT_GT(watch.calls, 0);
    EXPECT_EQ(watch.lastReceived, size);
    EXPECT_EQ(watch.lastTotal, size);

    RecordingProgress cancel(1);
    EXPECT_EQ(update.CheckUpdate(url.c_str(), &cancel), kDownloadFailed);
    EXPECT_EQ(cancel.calls, 1);
}

TEST_F(AutoUpdateTest, LeavesNoTemporaryFileBehind) {
    const std::string dir = testsupport::ScratchDir("update-tmp");
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    ::setenv("TMPDIR", dir.c_str(), 1);
    CAutoUpdateImp update(TestLimits(5000));
    for (const char* path : {"/newer.ini", "/page.html", "/big.ini"}) {
        const std::string url = server.Url(path);
        update.CheckUpdate(url.c_str(), nullptr);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
    // Without a usable temporary folder the download cannot start.
    ::setenv("TMPDIR", (dir + "/absent").c_str(), 1);
    const std::string url = server.Url("/newer.ini");
    EXPECT_EQ(update.CheckUpdate(url.c_str(), nullptr), kDownloadFailed);
    if (old) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    EXPECT_EQ(server.Hits("/newer.ini"), 1);
}

TEST_F(AutoUpdateTest, OneInstanceForTheProcess) {
    IAutoUpdate* first = GetAutoUpdateInstance();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetAutoUpdateInstance(), first);
    // Before any check: no version, nothing newer.
    EXPECT_EQ(first->CompareVersion(0, 0), kNoNewVersion);
    const std::string url = server.Url("/newer.ini");
    EXPECT_EQ(first->CheckUpdate(url.c_str(), nullptr), kOk);
    EXPECT_EQ(first->CompareVersion(Half(7, 6), Half(1, 0)), kOk);
    char version[32] = {};
    EXPECT_EQ(first->GetNewVersion(version), 0);
    EXPECT_STREQ(version, "7.6.1.1");
}
