#include "recovery/TargetFiles.h"
#include "tests/support/FixtureKit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testsupport::ReadFileBytes;
using testsupport::ScratchDir;
using testsupport::WriteFileBytes;

TEST(TargetFiles, SafeNames) {
    const std::string e2 = "\xC3\xA9"; // a two-byte character
    std::string manyE;
    for (int i = 0; i < 200; ++i)
        manyE += e2;
    struct Case {
        std::string in;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"a.txt", "a.txt"},
        {"../../etc/passwd", ".._.._etc_passwd"},
        {"dir\\name", "dir_name"},
        {".", "_"},
        {"..", "__"},
        {"", "_"},
        {std::string(300, 'a') + ".txt", std::string(251, 'a') + ".txt"},
        // 251 bytes are left for the stem: the cut falls inside a character and backs off.
        {manyE + ".txt", manyE.substr(0, 250) + ".txt"},
        // A long "extension" is not kept.
        {"a." + std::string(300, 'b'), "a." + std::string(253, 'b')},
        // Control characters and DEL never reach a name; ':' and '*' are legal here and stay.
        {"line\nbreak.txt", "line_break.txt"},
        {"a\x01" "b\x1F\x7F.txt", "a_b__.txt"},
        {"tab\there\r", "tab_here_"},
        {"a:b*c?.txt", "a:b*c?.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        const std::string safe = MakeSafeFileName(c.in.c_str());
        EXPECT_EQ(safe, c.out);
        EXPECT_LE(safe.size(), kMaxNameBytes);
    }
    EXPECT_EQ(MakeSafeFileName(nullptr), "_");
    // A short limit never cuts a name down to a parent or current folder.
    EXPECT_EQ(MakeSafeFileName("...", 2), "__");
    EXPECT_EQ(MakeSafeFileName("...", 1), "_");
}

// Names that are taken get numbers before their extension; a missing or too long folder sends
// the file to the output root; with every number taken nothing is created or overwritten.
TEST(TargetFiles, CreateTargetFileFallbacks) {
    struct Case {
        const char* what;
        std::vector<std::string> existing; // files made in "sub" first
        std::string folder;                // relative to the root; "" = "sub"
        std::string name;
        std::string expected; // relative to the root; "" = creation fails
    };
    const std::string longFolder = [] {
        std::string f = "sub";
        while (f.size() < 4200)
            f += "/" + std::string(200, 'd');
        return f;
    }();
    std::vector<std::string> all1000 = {"x.bin"};
    for (int n = 0; n < 1000; ++n) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "x_%03d.bin", n);
        all1000.push_back(buf);
    }
    const std::vector<Case> cases = {
        {"free name", {}, "", "a.txt", "sub/a.txt"},
        {"taken once", {"a.txt"}, "", "a.txt", "sub/a_000.txt"},
        {"taken twice", {"a.txt", "a_000.txt"}, "", "a.txt", "sub/a_001.txt"},
        {"no extension", {"name"}, "", "name", "sub/name_000"},
        {"two dots", {"a.b.c"}, "", "a.b.c", "sub/a.b_000.c"},
        {"path from disk", {}, "", "../evil", "sub/.._evil"},
        {"missing folder", {}, "nothere/deeper", "a.txt", "a.txt"},
        {"path too long", {}, longFolder, "a.txt", "a.txt"},
        {"every number taken", all1000, "", "x.bin", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string root = ScratchDir("target") + "/";
        fs::create_directories(root + "sub");
        for (const std::string& e : c.existing)
            ASSERT_TRUE(WriteFileBytes(root + "sub/" + e, {'o', 'l', 'd'}));
        const std::string folder = root + (c.folder.empty() ? "sub" : c.folder);
        std::string path;
        const int ok = CreateTargetFile(path, root, folder, c.name.c_str());
        if (c.expected.empty()) {
            EXPECT_EQ(ok, 0);
        } else {
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(path, root + c.expected);
            EXPECT_TRUE(fs::is_regular_file(path));
            EXPECT_EQ(fs::file_size(path), 0u);
        }
        std::size_t files = 0;
        for (auto& entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_regular_file())
                continue;
            ++files;
            if (entry.path().string() != path || c.expected.empty()) {
                EXPECT_EQ(ReadFileBytes(entry.path()), std::vector<std::uint8_t>({'o', 'l', 'd'}))
                    << entry.path();
            }
        }
        EXPECT_EQ(files, c.existing.size() + (c.expected.empty() ? 0 : 1));
        fs::remove_all(root);
    }
}

TEST(TargetFiles, NumberedNameKeepsTheLimit) {
    const std::string root = ScratchDir("numbered");
    const std::string name = std::string(250, 'n') + ".txt";
    ASSERT_EQ(CreateNewFile(root + "/" + name), kErrorSuccess);
    std::string path;
    ASSERT_EQ(MakeNumberedFileName(path, root, name), kErrorSuccess);
    EXPECT_EQ(path, root + "/" + std::string(247, 'n') + "_000.txt");
    EXPECT_EQ(MakeNumberedFileName(path, "", "a"), kErrorPathNotFound);
}

TEST(TargetFiles, UniqueDirectoryAndErrors) {
    const std::string root = ScratchDir("dirs");
    std::string docs = root + "/docs";
    EXPECT_EQ(CreateNewDirectory(docs), kErrorSuccess);
    int err = CreateNewDirectory(docs);
    EXPECT_EQ(err, kErrorAlreadyExists);
    EXPECT_EQ(MakeUniqueDirectory(docs, err), 1);
    EXPECT_EQ(docs, root + "/docs_000");
    EXPECT_TRUE(fs::is_directory(docs));

    std::string missing = root + "/no/such";
    err = CreateNewDirectory(missing);
    EXPECT_EQ(err, kErrorPathNotFound);
    EXPECT_EQ(MakeUniqueDirectory(missing, err), 0);
    EXPECT_EQ(missing, root + "/no/such");

    // A file in the way of a folder is "already exists" as well.
    ASSERT_TRUE(WriteFileBytes(root + "/plain", {1}));
    EXPECT_EQ(CreateNewDirectory(root + "/plain"), kErrorAlreadyExists);
    EXPECT_EQ(CreateNewFile(root + "/plain"), kErrorFileExists);
    EXPECT_EQ(CreateNewFile(root + "/plain/x"), kErrorPathNotFound);
    EXPECT_EQ(CreateNewFile(root + "/" + std::string(300, 'l')), kErrorFilenameTooLong);
}
