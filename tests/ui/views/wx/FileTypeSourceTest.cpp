// The found-file views' type names and icon names from the program's file-type service.
#include "ui/views/wx/FileTypeIcons.h"

#include <gtest/gtest.h>

#include "platform/FileTypeMap.h"

TEST(FileTypeServiceSource, NamesFromTheMimeDatabase) {
    CFileTypeServiceSource types;
    // The first use reads the database when the program has not.
    const std::string png = types.TypeName("photo.PNG");
    ASSERT_NE(LookupFileType(".png"), nullptr);
    struct Case {
        const char* file;
        std::string name;
        std::string icon;
    };
    const Case cases[] = {
        {"photo.PNG", LookupFileType(".png")->name, "image/png"},
        {"a.b.jpg", LookupFileType(".jpg")->name, "image/jpeg"},
        {"notes.txt", LookupFileType(".txt")->name, "text/plain"},
        {"data.qqzzx", "QQZZX File", ""},  // unknown to the service: the plain name
        {"README", "File", ""},            // no extension
        {"dir.png/file", "File", ""},      // a dot in a folder part is no extension
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(types.TypeName(c.file), c.name);
        EXPECT_EQ(types.IconName(c.file, false), c.icon);
    }
    EXPECT_EQ(png, LookupFileType(".png")->name);
    EXPECT_FALSE(png.empty());
    EXPECT_EQ(types.IconName("photos", true), "folder");
}
