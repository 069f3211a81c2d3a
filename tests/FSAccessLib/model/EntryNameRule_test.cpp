#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "FSAccessCommon.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;

namespace {

EntryNameRule TwoNumberRule() {
    EntryNameRule rule;
    rule.width1 = 3;
    rule.min1 = 100;
    rule.max1 = 999;
    rule.prefix = u"ABCDE";
    rule.width2 = 4;
    rule.min2 = 1;
    rule.max2 = 9999;
    rule.suffix = u".JPG";
    return rule;
}

TEST(NewEntryTest, KindsComposeNumbersPrefixAndSuffix) {
    const EntryNameRule rule = TwoNumberRule();
    const uint32_t first = 100, second = 7;
    EXPECT_EQ(NewEntry(rule, 3, &first, &second), u"100ABCDE0007.JPG");
    EXPECT_EQ(NewEntry(rule, 0, nullptr, nullptr), u"ABCDE.JPG");
    EXPECT_EQ(NewEntry(rule, 1, &first, nullptr), u"100ABCDE.JPG");
    EXPECT_EQ(NewEntry(rule, 2, nullptr, &second), u"ABCDE0007.JPG");
    const uint32_t wide = 123456;
    EXPECT_EQ(NewEntry(rule, 2, nullptr, &wide), u"ABCDE123456.JPG"); // more digits than the width
}

TEST(NewEntryTest, MissingNumberOrUnknownKindLogsAndGivesEmptyName) {
    const EntryNameRule rule = TwoNumberRule();
    const uint32_t n = 1;
    FSAccessTest::LogCapture log;
    EXPECT_EQ(NewEntry(rule, 2, &n, nullptr), u"");
    EXPECT_EQ(log.Count("NewEntry(): Argument Error\n"), 1u);
    EXPECT_EQ(NewEntry(rule, 1, nullptr, &n), u"");
    EXPECT_EQ(NewEntry(rule, 3, &n, nullptr), u"");
    EXPECT_EQ(NewEntry(rule, 4, &n, &n), u"");
    EXPECT_EQ(NewEntry(rule, -1, &n, &n), u"");
    EXPECT_EQ(log.Count("NewEntry(): Argument Error\n"), 5u);
    EXPECT_EQ(log.Text().rfind("FSAccessLib/EntryNameRule(", 0), 0u);
}

TEST(NewEntryRangeTest, KindOneTwoAndOthers) {
    const EntryNameRule rule = TwoNumberRule();
    const uint32_t n99 = 99, n100 = 100, n999 = 999, n1000 = 1000, n0 = 0, n1 = 1, n9999 = 9999, n10000 = 10000;
    EXPECT_FALSE(NewEntryInRange(rule, 1, &n99, nullptr));
    EXPECT_TRUE(NewEntryInRange(rule, 1, &n100, nullptr));
    EXPECT_TRUE(NewEntryInRange(rule, 1, &n999, nullptr));
    EXPECT_FALSE(NewEntryInRange(rule, 1, &n1000, nullptr));
    EXPECT_FALSE(NewEntryInRange(rule, 2, nullptr, &n0));
    EXPECT_TRUE(NewEntryInRange(rule, 2, nullptr, &n1));
    EXPECT_TRUE(NewEntryInRange(rule, 2, nullptr, &n9999));
    EXPECT_FALSE(NewEntryInRange(rule, 2, nullptr, &n10000));
    EXPECT_TRUE(NewEntryInRange(rule, 0, nullptr, nullptr));
    EXPECT_TRUE(NewEntryInRange(rule, 3, nullptr, nullptr));
}

TEST(NewEntryRangeTest, ArgumentErrors) {
    EntryNameRule noFirst = TwoNumberRule();
    noFirst.width1 = 0;
    const uint32_t n = 500;
    FSAccessTest::LogCapture log;
    EXPECT_THROW(NewEntryInRange(noFirst, 1, &n, nullptr), AAA::InvalidDataException);
    EXPECT_THROW(NewEntryInRange(TwoNumberRule(), 1, nullptr, nullptr), AAA::InvalidDataException);
    EXPECT_EQ(log.Count("NewEntry(): Argument Error\n"), 2u);
    EXPECT_EQ(log.Count("AAA::InvalidDataException()\n"), 2u);

    EntryNameRule noSecond = TwoNumberRule();
    noSecond.width2 = 0;
    EXPECT_FALSE(NewEntryInRange(noSecond, 2, nullptr, &n));
    EXPECT_FALSE(NewEntryInRange(TwoNumberRule(), 2, nullptr, nullptr));
    EXPECT_EQ(log.Count("NewEntry(): Argument Error\n"), 4u);
    EXPECT_EQ(log.Count("AAA::InvalidDataException()\n"), 2u);
}

TEST(NameRulesTest, DcfTableAndAvchdStreamRule) {
    const auto& table = DcfRuleTable();
    const uint32_t folder = 100, last = 999, file = 1, lastFile = 9999, stream = 0, lastStream = 99999;
    const char16_t* prefixes[] = {u"CDPFP", u"CDPFQ", u"CDPFR"};
    for (int row = 0; row < 3; ++row) {
        EXPECT_TRUE(table[row].folderRule);
        EXPECT_EQ(NewEntry(table[row], 1, &folder, nullptr), u"100" + std::u16string(prefixes[row]));
        EXPECT_EQ(NewEntry(table[row], 1, &last, nullptr), u"999" + std::u16string(prefixes[row]));
        EXPECT_TRUE(NewEntryInRange(table[row], 1, &folder, nullptr));
    }
    const EntryNameRule& dcfFile = table[kDcfFileRuleRow];
    EXPECT_FALSE(dcfFile.folderRule);
    EXPECT_EQ(NewEntry(dcfFile, 2, nullptr, &file), u"IMGA0001.JPG");
    EXPECT_EQ(NewEntry(dcfFile, 2, nullptr, &lastFile), u"IMGA9999.JPG");
    EXPECT_EQ(dcfFile.width1, 0u);

    const EntryNameRule& avchd = AvchdStreamRule();
    EXPECT_TRUE(avchd.folderRule);
    EXPECT_EQ(NewEntry(avchd, 1, &stream, nullptr), u"00000.MTS");
    EXPECT_EQ(NewEntry(avchd, 1, &lastStream, nullptr), u"99999.MTS");
    EXPECT_TRUE(NewEntryInRange(avchd, 1, &stream, nullptr));
    const uint32_t tooBig = 100000;
    EXPECT_FALSE(NewEntryInRange(avchd, 1, &tooBig, nullptr));
}

} // namespace
