#include "filesystems/MyFileProperties.h"
#include "tools/FileFilters.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

std::unique_ptr<CMyFileProperties> Props(std::uint32_t valid, std::uint16_t attributes, std::uint8_t state) {
    auto p = std::make_unique<CMyFileProperties>();
    MyFilePropertiesRecord r = p->GetRecord();
    r.validFields = valid;
    r.attributes = attributes;
    r.entryState = state;
    p->SetRecord(r);
    return p;
}

} // namespace

TEST(FileFilters, AttributeFilterTable) {
    struct Case {
        std::uint32_t mask, valid;
        std::uint16_t attributes;
        bool pass;
    } cases[] = {
        {0xFFFFFFFF, 0x04, 0x0000, true},   // every file with valid attributes
        {0xFFFFFFFF, 0x00, 0x0040, false},  // attributes not valid: fails even with all ones
        {0x40, 0x04, 0x0040, true},         // encrypted
        {0x40, 0x04, 0x0800, false},        // compressed only
        {0x800, 0x04, 0x0840, true},
        {0x200, 0x04, 0x0200, false},       // sparse bit is not looked at
        {0x01, 0x7F, 0x0021, true},
        {0x00, 0x04, 0x0FFF, false},
    };
    for (const Case& c : cases) {
        auto p = Props(c.valid, c.attributes, 0);
        EXPECT_EQ(CFileAttributeFilter(c.mask).Match(p.get()), c.pass) << std::hex << c.mask << " " << c.attributes;
    }
    EXPECT_FALSE(CFileAttributeFilter().Match(nullptr));
}

TEST(FileFilters, StateFilterTable) {
    struct Case {
        std::uint32_t mask, valid;
        std::uint8_t state;
        bool pass;
    } cases[] = {
        {7, 0x40, 0, false},           // live entry
        {7, 0x40, 1, true},            // deleted
        {7, 0x40, 8, true},            // lost-files folder
        {7, 0x00, 1, false},           // state not valid
        {0xFFFFFFFF, 0x00, 0, false},  // not valid: fails even with all ones
        {0xFFFFFFFF, 0x40, 0, true},
        {8, 0x40, 1, false},           // none of the bits 1, 2, 4
        {2, 0x40, 1, true},
    };
    for (const Case& c : cases) {
        auto p = Props(c.valid, 0, c.state);
        EXPECT_EQ(CFileStateFilter(c.mask).Match(p.get()), c.pass) << c.mask << " " << int(c.state);
    }
    EXPECT_EQ(CFileStateFilter().m_mask, 7u);
}
