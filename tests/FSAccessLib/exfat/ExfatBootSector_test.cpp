// The exFAT boot-sector rows: the record reads exactly the rows, and the raw
// name look the card search uses goes by the same place.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "ExfatBootSector.h"
#include "FSAccessLib/RecordRowsTestHelpers.h"

namespace {

using namespace FSAccessLib::ExFAT;

TEST(ExfatBootSector, RecordReadsItsRows) {
    RecordRowsTest::ExpectRecordReadsRows<BootSector>(AAA_LAYOUT_SPANS(EXFAT_BOOT_LAYOUT), kBootSectorBytes, 0xEF);
    RecordRowsTest::ExpectRecordReadsRows<FileSystemRevision>(AAA_LAYOUT_SPANS(EXFAT_REVISION_LAYOUT), 2, 0x100);
}

TEST(ExfatBootSector, NameLookSeesTheNameAndNothingElse) {
    std::vector<uint8_t> sector(kBootSectorBytes, 0);
    const uint8_t head[11] = {
        0xEB, 0x76, 0x90,                       // 0 JumpBoot
        'E', 'X', 'F', 'A', 'T', ' ', ' ', ' ', // 3 FileSystemName
    };
    std::copy(std::begin(head), std::end(head), sector.begin());
    EXPECT_TRUE(HoldsExFatName(sector));

    struct Twin {
        const char* what;
        size_t offset;
        uint8_t byte;
        bool holdsName;
    };
    const Twin twins[] = {
        {"lower case", 3, 'e', false},
        {"last blank filled", 10, 'X', false},
        {"jump changed", 0, 0x00, true},
        {"MustBeZero changed", 11, 0x01, true},
    };
    for (const Twin& twin : twins) {
        std::vector<uint8_t> twinSector = sector;
        twinSector[twin.offset] = twin.byte;
        EXPECT_EQ(HoldsExFatName(twinSector), twin.holdsName) << twin.what;
    }
    EXPECT_FALSE(HoldsExFatName(std::span(sector).first(10))) << "the name cut short";
}

} // namespace
