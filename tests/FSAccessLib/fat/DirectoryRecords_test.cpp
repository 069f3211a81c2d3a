#include <gtest/gtest.h>

#include "AAA_Stream.h"
#include "FSAccessCommon.h"

using namespace FSAccessLib;

namespace {

// The FAT standard's 32-byte short entry around the shared fields, as the readers lay it out.
class ShortEntry : public DirectoryEntryBase {
public:
    ShortEntry() : DirectoryEntryBase("DirectoryEntry") { Link(); }
    void Link() override {
        SetMembers({&Name, &NameExtension, &Attributes, &Reserved, &CreateTime, &CreateDate, &AccessDate,
                    &FirstClusterHigh, &TimeRecorded, &DateRecorded, &FirstClusterLow, &FileLength});
        AAA::Block::Link();
    }
    AAA::Field::BE Reserved{8, "NTReserved"};
    AAA::Field::BE CreateTime{24, "CreateTime"};
    AAA::Field::BE CreateDate{16, "CreateDate"};
    AAA::Field::BE AccessDate{16, "AccessDate"};
    AAA::Field::LE FirstClusterHigh{16, "FirstClusterHigh"};
    AAA::Field::LE FirstClusterLow{16, "FirstClusterLow"};
};

template <class Record>
void ReadFrom(Record& record, std::vector<uint8_t> bytes) {
    AAA::MemoryStream stream(std::move(bytes));
    AAA::BitReader reader(stream);
    record.Read(reader);
}

TEST(TimeFormatTest, SplitsLittleEndianWordAndChecksRanges) {
    // 23:59:58 = (23 << 11) | (59 << 5) | 29 = 0xBF7D, stored 7D BF.
    TimeFormat good("TimeRecorded");
    ReadFrom(good, {0x7D, 0xBF});
    EXPECT_EQ(good.Hours.Value(), 23u);
    EXPECT_EQ(good.Minutes.Value(), 59u);
    EXPECT_EQ(good.Seconds.Value(), 29u);
    EXPECT_TRUE(good.IsValid());
    EXPECT_EQ(good.BitLength(), 16);
    EXPECT_EQ(good.Hours.FullName(), "TimeRecorded.Hours");
    EXPECT_EQ(good.Raw.FullName(), "TimeRecorded.TimeFormat");

    TimeFormat seconds30("TimeRecorded");  // seconds field 30 (60 s)
    ReadFrom(seconds30, {0x7E, 0xBF});
    EXPECT_EQ(seconds30.Seconds.Value(), 30u);
    EXPECT_FALSE(seconds30.IsValid());

    TimeFormat minutes60("TimeRecorded");  // (0 << 11) | (60 << 5) = 0x0780
    ReadFrom(minutes60, {0x80, 0x07});
    EXPECT_FALSE(minutes60.IsValid());

    TimeFormat hours24("TimeRecorded");  // 24 << 11 = 0xC000
    ReadFrom(hours24, {0x00, 0xC0});
    EXPECT_EQ(hours24.Hours.Value(), 24u);
    EXPECT_FALSE(hours24.IsValid());
}

TEST(TimeFormatTest, WritesTheWordBackLittleEndian) {
    TimeFormat time("T");
    ReadFrom(time, {0x7D, 0xBF});
    AAA::MemoryStream out;
    AAA::BitWriter writer(out);
    time.Write(writer);
    EXPECT_EQ(out.Bytes(), (std::vector<uint8_t>{0x7D, 0xBF}));
}

TEST(DateFormatTest, ZeroValidMonthAndDayRangesChecked) {
    DateFormat zero("DateRecorded");
    ReadFrom(zero, {0x00, 0x00});
    EXPECT_TRUE(zero.IsValid());

    // 2019-12-31: years 39 -> (39 << 9) | (12 << 5) | 31 = 0x4F9F, stored 9F 4F.
    DateFormat good("DateRecorded");
    ReadFrom(good, {0x9F, 0x4F});
    EXPECT_EQ(good.Years.Value(), 39u);
    EXPECT_EQ(good.Month.Value(), 12u);
    EXPECT_EQ(good.Day.Value(), 31u);
    EXPECT_TRUE(good.IsValid());

    DateFormat month13("DateRecorded");  // month 13, day 31: 0x4FBF
    ReadFrom(month13, {0xBF, 0x4F});
    EXPECT_EQ(month13.Month.Value(), 13u);
    EXPECT_FALSE(month13.IsValid());

    DateFormat day0("DateRecorded");  // month 12, day 0: 0x4F80
    ReadFrom(day0, {0x80, 0x4F});
    EXPECT_FALSE(day0.IsValid());

    DateFormat yearOnly("DateRecorded");  // year 1 with month and day 0
    ReadFrom(yearOnly, {0x00, 0x02});
    EXPECT_FALSE(yearOnly.IsValid());

    DateFormat year127("DateRecorded");  // years not checked: 127-01-01 = 0xFE21
    ReadFrom(year127, {0x21, 0xFE});
    EXPECT_EQ(year127.Years.Value(), 127u);
    EXPECT_TRUE(year127.IsValid());
}

std::vector<uint8_t> GoodEntryBytes() {
    return {
        'V', 'I', 'D', 'E', 'O', ' ', ' ', ' ',  // Name
        'M', 'T', 'S',                           // NameExtension
        0x20,                                    // Attributes: archive
        0x00,                                    // NTReserved
        0x00, 0x00, 0x00,                        // CreateTime (tenths + time)
        0x00, 0x00,                              // CreateDate
        0x00, 0x00,                              // AccessDate
        0x01, 0x00,                              // FirstClusterHigh = 1
        0x7D, 0xBF,                              // TimeRecorded 23:59:58
        0x9F, 0x4F,                              // DateRecorded 2019-12-31
        0x05, 0x00,                              // FirstClusterLow = 5
        0x78, 0x56, 0x34, 0x12,                  // FileLength 0x12345678
    };
}

TEST(DirectoryEntryBaseTest, ReadsSharedFieldsInSubclassLayout) {
    ShortEntry entry;
    EXPECT_EQ(entry.BitLength(), 256);
    ReadFrom(entry, GoodEntryBytes());
    EXPECT_EQ(entry.ShortName(), "VIDEO   ");
    EXPECT_EQ(entry.ShortExtension(), "MTS");
    EXPECT_EQ(entry.Attributes.Value(), 0x20u);
    EXPECT_EQ(entry.TimeRecorded.Hours.Value(), 23u);
    EXPECT_EQ(entry.DateRecorded.Month.Value(), 12u);
    EXPECT_EQ(entry.FileLength.Value(), 0x12345678u);
    EXPECT_EQ(entry.FirstClusterLow.Value(), 5u);
    EXPECT_TRUE(entry.HasValidName());
    EXPECT_TRUE(entry.HasValidExtension());
    EXPECT_TRUE(entry.HasValidAttributes());
    EXPECT_FALSE(entry.IsDirectory());
    EXPECT_FALSE(entry.IsDotEntry() || entry.IsDotDotEntry());
    EXPECT_EQ(entry.TimeRecorded.Minutes.FullName(), "DirectoryEntry.TimeRecorded.Minutes");
}

TEST(DirectoryEntryBaseTest, MinimallyCorruptedTwinsFailTheirCheck) {
    struct Twin {
        size_t offset;
        uint8_t value;
        const char* what;
    };
    const Twin twins[] = {
        {0, 'v', "lower-case first name byte"},
        {0, ' ', "blank first name byte"},
        {3, '.', "dot inside the name"},
        {9, '*', "star in the extension"},
        {11, 0x0F, "long-file-name attributes"},
        {11, 0x08, "volume label"},
        {11, 0x40, "attributes above 0x3F"},
    };
    for (const Twin& twin : twins) {
        std::vector<uint8_t> bytes = GoodEntryBytes();
        bytes[twin.offset] = twin.value;
        ShortEntry entry;
        ReadFrom(entry, bytes);
        EXPECT_FALSE(entry.HasValidName() && entry.HasValidExtension() && entry.HasValidAttributes()) << twin.what;
    }
    std::vector<uint8_t> deleted = GoodEntryBytes();
    deleted[0] = 0xE5;
    ShortEntry entry;
    ReadFrom(entry, deleted);
    EXPECT_TRUE(entry.IsDeleted());
    EXPECT_TRUE(entry.HasValidName());
}

TEST(DirectoryEntryBaseTest, StandaloneLayoutAndDotEntries) {
    DirectoryEntryBase dot("Entry");
    EXPECT_EQ(dot.BitLength(), 8 * (8 + 3 + 1 + 2 + 2 + 4));
    ReadFrom(dot, {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(dot.IsDotEntry());
    EXPECT_FALSE(dot.IsDotDotEntry());
    EXPECT_TRUE(dot.IsDirectory());

    DirectoryEntryBase dotdot("Entry");
    ReadFrom(dotdot, {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(dotdot.IsDotDotEntry());
    EXPECT_FALSE(dotdot.IsDotEntry());

    DirectoryEntryBase dotx("Entry");
    ReadFrom(dotx, {'.', 'X', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', 0x10, 0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_FALSE(dotx.IsDotEntry() || dotx.IsDotDotEntry());

    DirectoryEntryBase copy(dotdot);
    EXPECT_TRUE(copy.IsDotDotEntry());
    EXPECT_EQ(copy.BitLength(), dotdot.BitLength());
}

TEST(ShortNameByteRuleTest, ExactAllowedSet) {
    std::string allowed;
    for (int b = 0; b < 256; ++b)
        if (IsValidShortNameByte(static_cast<uint8_t>(b)) && b < 0x80)
            allowed += static_cast<char>(b);
    EXPECT_EQ(allowed, " !#$%&'()-0123456789@ABCDEFGHIJKLMNOPQRSTUVWXYZ^_`{}~\x7F");
    for (int b = 0x80; b < 256; ++b)
        EXPECT_TRUE(IsValidShortNameByte(static_cast<uint8_t>(b))) << b;

    EXPECT_FALSE(IsValidShortNameFirstByte(' '));
    EXPECT_TRUE(IsValidShortNameFirstByte(0xE5));
    EXPECT_FALSE(IsValidShortNameFirstByte(0x00));

    const uint8_t blanksInside[8] = {'A', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_TRUE(IsValidShortName(blanksInside));
    const uint8_t lowerInside[8] = {'A', 'b', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_FALSE(IsValidShortName(lowerInside));
    const uint8_t blankExtension[3] = {' ', ' ', ' '};
    EXPECT_TRUE(IsValidShortExtension(blankExtension));
    const uint8_t pipeExtension[3] = {'T', '|', 'T'};
    EXPECT_FALSE(IsValidShortExtension(pipeExtension));

    EXPECT_TRUE(IsValidShortEntryAttributes(0x00));
    EXPECT_TRUE(IsValidShortEntryAttributes(0x37));
    EXPECT_FALSE(IsValidShortEntryAttributes(0x3F));
    EXPECT_FALSE(IsValidShortEntryAttributes(0x0F));
    EXPECT_FALSE(IsValidShortEntryAttributes(0x18));
    EXPECT_FALSE(IsValidShortEntryAttributes(0x40));
}

} // namespace
