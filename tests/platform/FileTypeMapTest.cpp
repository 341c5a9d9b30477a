#include "platform/FileTypeMap.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

std::string MimeXml(const std::string& type, const std::string& english) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<mime-type xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\" type=\"" +
           type + "\">\n  <comment xml:lang=\"de\">Deutsch</comment>\n  <comment>" + english +
           "</comment>\n  <glob pattern=\"*.x\"/>\n</mime-type>\n";
}

fs::path MakeFixture(bool withOctetStream) {
    const fs::path root = fs::current_path() / (withOctetStream ? "mime-a" : "mime-b");
    fs::remove_all(root);
    Write(root / "globs2",
          "# comment\n"
          "50:image/jpeg:*.jpg\n"
          "50:image/jpeg:*.jpeg\n"
          "50:image/jpeg:*.jpe\n"
          "50:image/x-other-jpeg:*.jfif\n"   // another type with the same name joins the entry
          "50:text/x-readme:README*\n"       // no "*.ext" glob
          "50:text/x-makefile:[Mm]akefile\n"
          "55:application/x-tar:*.tar:cs\n"
          "50:application/x-nameless:*.nn\n"  // no comment: skipped
          "50:image/jpeg:*.jpg\n");          // repeated: once
    Write(root / "image/jpeg.xml", MimeXml("image/jpeg", "JPEG image"));
    Write(root / "image/x-other-jpeg.xml", MimeXml("image/x-other-jpeg", "JPEG image"));
    Write(root / "application/x-tar.xml", MimeXml("application/x-tar", "Tar &amp; archive"));
    Write(root / "application/x-nameless.xml", "<mime-type type=\"application/x-nameless\"/>\n");
    if (withOctetStream)
        Write(root / "application/octet-stream.xml", MimeXml("application/octet-stream", "unknown"));
    return root;
}

} // namespace

TEST(FileTypeMap, BuiltFromMimeFolder) {
    FileTypeMap map;
    ExtensionTypeTable table;
    EXPECT_EQ(BuildFileTypeList(map, MakeFixture(true).string(), &table), 5);
    // The type service: a name's extension in any case.
    const FileTypeInfo* jpg = LookupFileType(table, "Holiday.JPG");
    ASSERT_NE(jpg, nullptr);
    EXPECT_EQ(jpg->mimeType, "image/jpeg");
    EXPECT_EQ(jpg->name, "JPEG image");
    EXPECT_EQ(LookupFileType(table, ".jfif")->mimeType, "image/x-other-jpeg");
    EXPECT_EQ(LookupFileType(table, "noext"), nullptr);
    EXPECT_EQ(LookupFileType(table, "dir.d/noext"), nullptr);
    EXPECT_EQ(LookupFileType(table, "file.nn"), nullptr);  // a type without a name
    const FileTypeMap expected = {
        {".00(All Files)", "*"},
        {".01unknown", "*"},
        {"JPEG image", ".jpg;.jpeg;.jpe;.jfif"},
        {"Tar & archive", ".tar"},
    };
    EXPECT_EQ(map, expected);
    EXPECT_EQ(map.begin()->first, ".00(All Files)");
    EXPECT_EQ(std::next(map.begin())->first, ".01unknown");
}

TEST(FileTypeMap, GenericTypeIsFileWithoutItsComment) {
    FileTypeMap map;
    BuildFileTypeList(map, MakeFixture(false).string());
    EXPECT_EQ(map.count(".01File"), 1u);
    // A missing database leaves the two special keys only.
    FileTypeMap empty;
    EXPECT_EQ(BuildFileTypeList(empty, "/nonexistent/mime"), 0);
    EXPECT_EQ(empty.size(), 2u);
}

TEST(FileTypeMap, AddFileTypeJoinsInOrder) {
    FileTypeMap map;
    AddFileType(map, "Text", ".txt");
    AddFileType(map, "Text", ".text");
    AddFileType(map, "text", ".t");  // keys are case-sensitive
    EXPECT_EQ(map["Text"], ".txt;.text");
    EXPECT_EQ(map["text"], ".t");
    EXPECT_EQ(MimeTypeComment("/nonexistent", "../etc/passwd"), "");
}
