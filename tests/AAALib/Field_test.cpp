#include "AAA_Field.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "LogCapture.h"

namespace {

using AAATest::LoggedTest;
using Bytes = std::vector<uint8_t>;

void ReadFrom(AAA::Element& element, const Bytes& bytes) {
    AAA::MemoryStream stream(bytes);
    AAA::BitReader reader(stream);
    element.Read(reader);
}

void Count(void* context) { ++*static_cast<int*>(context); }

struct BootSector : AAA::Block {
    AAA::Field::BE Jump{24, "Jump"};
    AAA::Field::Str Oem{64, "OemName"};
    AAA::Field::LE SectorSize{16, "SectorSize"};

    BootSector() : Block("PartitionBootSector") { Link(); }
    BootSector(const BootSector&) = default;
    void Link() override {
        SetMembers({&Jump, &Oem, &SectorSize});
        Block::Link();
    }
};

const Bytes kBootBytes = {
    0xEB, 0x3C, 0x90,                               // Jump
    'M', 'S', 'D', 'O', 'S', '5', '.', '0',         // OemName
    0x00, 0x02,                                     // SectorSize: 512, little-endian
};

// ---- Construction and reading ------------------------------------------------------

TEST(Field, FreshFieldHoldsFillBytes) {
    AAA::Field::LE field(16, "SectorSize");
    EXPECT_EQ(field.Data(), (Bytes{0xAA, 0xAA}));
    EXPECT_EQ(field.Snapshot(), field.Data());
    EXPECT_FALSE(field.IsChanged());
    EXPECT_EQ(field.Position(), -1);
    EXPECT_EQ(field.BitLength(), 16);
    EXPECT_STREQ(field.Kind(), "LE");
    EXPECT_EQ(field.parent, nullptr);
}

TEST_F(LoggedTest, LittleEndianFieldIsHeldMostSignificantFirst) {
    BootSector boot;
    ReadFrom(boot, kBootBytes);
    EXPECT_EQ(boot.SectorSize.Data(), (Bytes{0x02, 0x00}));
    EXPECT_EQ(boot.SectorSize.Value(), 512u);
    EXPECT_EQ(boot.SectorSize.ToString(), "512");
    EXPECT_NE(log.Text().find("    PartitionBootSector.SectorSize {16,LE} = 0x0200 \"512\"\n"), std::string::npos)
        << log.Text();
}

TEST(Field, BigEndianTwinKeepsStreamOrder) {
    AAA::Field::BE field(16, "SectorSize");
    ReadFrom(field, {0x00, 0x02});
    EXPECT_EQ(field.Data(), (Bytes{0x00, 0x02}));
    EXPECT_EQ(field.Value(), 2u);
}

TEST(Field, LittleEndianWidths) {
    AAA::Field::LE one(8, "b"), three(24, "t"), four(32, "f"), eight(64, "e");
    ReadFrom(one, {0x7F});
    ReadFrom(three, {0x01, 0x02, 0x03});
    ReadFrom(four, {0x78, 0x56, 0x34, 0x12});
    ReadFrom(eight, {0x02, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00});
    EXPECT_EQ(one.Data(), (Bytes{0x7F}));
    EXPECT_EQ(three.Value(), 0x030201u);
    EXPECT_EQ(four.Value(), 0x12345678u);
    EXPECT_EQ(eight.Value64(), 0x100000002u);
    EXPECT_EQ(eight.Value(), 2u); // only the low 32 bits
    EXPECT_EQ(eight.ToString(), "");
}

TEST(Field, ValueOfEachByteCount) {
    for (int bits : {40, 48, 56}) {
        AAA::Field::BE field(bits, "odd");
        field.SetValue(0x0102030405);
        EXPECT_EQ(field.Value(), 0u) << bits;
        EXPECT_EQ(field.ToString(), "") << bits;
    }
    AAA::Field::BE wide(64, "wide");
    wide.SetValue((uint64_t{1} << 32) + 2);
    EXPECT_EQ(wide.Value(), 2u);
    AAA::Field::BE empty(0, "placeholder");
    EXPECT_EQ(empty.Value(), 0u);
}

TEST(Field, TextKinds) {
    AAA::Field::Str type(64, "FileSystemType");
    ReadFrom(type, {'F', 'A', 'T', '1', '2', ' ', ' ', 0});
    EXPECT_EQ(type.ToString(), std::string("FAT12  \0", 8)); // padding kept
    AAA::Field::Utf16 name(64, "Name");
    ReadFrom(name, {'A', 0x00, 0xE9, 0x00, 0x99, 0x51, 0x3D, 0xD8});
    EXPECT_EQ(name.ToWideString(), (std::u16string{u'A', u'\u00E9', u'\u5199', 0xD83D}));
    EXPECT_EQ(name.ToString(), "A\xE9\x99=");
}

TEST_F(LoggedTest, ReadPositionsAndZeroBitPlaceholder) {
    int notified = 0;
    AAA::Field::BE first(16, "First"), placeholder(0, "Later"), second(8, "Second");
    placeholder.SetNotification(&notified, &Count);
    AAA::MemoryStream stream(Bytes{1, 2, 3});
    AAA::BitReader reader(stream);
    first.Read(reader);
    log.Clear();
    placeholder.Read(reader);
    second.Read(reader);
    EXPECT_EQ(first.Position(), 0);
    EXPECT_EQ(placeholder.Position(), 16);
    EXPECT_EQ(second.Position(), 16);
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(log.Text().find("Later"), std::string::npos); // no dump either
    EXPECT_FALSE(placeholder.IsChanged());
}

// ---- Changing values -----------------------------------------------------------------

TEST(Field, SetBitLengthKeepsBytesAndFillsNewOnes) {
    AAA::Field::BE field(16, "f");
    ReadFrom(field, {0x12, 0x34});
    field.SetBitLength(24);
    EXPECT_EQ(field.Data(), (Bytes{0x12, 0x34, 0xAA}));
    EXPECT_EQ(field.BitLength(), 24);
    EXPECT_FALSE(field.IsChanged());
}

TEST_F(LoggedTest, SetValueStoresMostSignificantFirstNotifiesAndDumps) {
    int notified = 0;
    AAA::Field::BE field(80, "Big");
    field.SetNotification(&notified, &Count);
    field.SetValue(0x0102);
    EXPECT_EQ(field.Data(), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x02}));
    EXPECT_EQ(notified, 1);
    EXPECT_TRUE(field.IsChanged());
    AAA::Field::BE small(16, "Small");
    small.SetValue(0x0102);
    EXPECT_NE(log.Text().find("    = Small {16,BE} = 0x0102 \"258\"\n"), std::string::npos) << log.Text();
}

TEST(Field, SetBytesCopiesCountOrWholeField) {
    int notified = 0;
    AAA::Field::BE field(32, "f");
    field.SetNotification(&notified, &Count);
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6};
    field.SetBytes(bytes, 1);
    EXPECT_EQ(field.Data(), (Bytes{1, 0xAA, 0xAA, 0xAA}));
    field.SetBytes(bytes, 0);
    EXPECT_EQ(field.Data(), (Bytes{1, 2, 3, 4}));
    field.SetBytes(bytes, 6); // never past the field's end
    EXPECT_EQ(field.Data().size(), 4u);
    EXPECT_EQ(notified, 3);
}

TEST(Field, CopyKeepsNotificationAssignmentKeepsTargetFunction) {
    int originalCount = 0, targetCount = 0;
    AAA::Field::BE original(16, "Original");
    original.SetNotification(&originalCount, &Count);
    original.SetValue(0x1234);
    AAA::Field::BE copy(original);
    copy.SetValue(0x5678);
    EXPECT_EQ(originalCount, 2); // the copy notifies the same context

    AAA::Field::LE target(8, "Target");
    target.SetNotification(&targetCount, &Count);
    AAA::Block holder("Holder");
    target.parent = &holder;
    static_cast<AAA::FieldBase&>(target) = original;
    // Data, kind, size and context come over; the function, name and parent stay.
    EXPECT_EQ(target.Data(), (Bytes{0x12, 0x34}));
    EXPECT_EQ(target.BitLength(), 16);
    EXPECT_STREQ(target.Kind(), "BE");
    EXPECT_EQ(target.name, "Target");
    EXPECT_EQ(target.parent, &holder);
    EXPECT_EQ(originalCount, 3); // our Count ran with the copied context
    EXPECT_EQ(targetCount, 0);
}

// ---- Checks and their reports --------------------------------------------------------

TEST_F(LoggedTest, CompareValueMatchLogsNothing) {
    BootSector boot;
    ReadFrom(boot, kBootBytes);
    log.Clear();
    EXPECT_TRUE(boot.SectorSize.CompareValue(512, "512U", "AAALib/Boot", 153));
    EXPECT_EQ(log.Text(), "");
}

TEST_F(LoggedTest, CompareValueMismatchWritesFourReportLines) {
    BootSector boot;
    Bytes bytes = kBootBytes;
    bytes[12] = 0x04; // SectorSize 1024
    ReadFrom(boot, bytes);
    log.Clear();
    EXPECT_FALSE(boot.SectorSize.CompareValue(512, "512U", "AAALib/Boot", 153));
    EXPECT_EQ(log.Text(),
              "AAALib/Boot(153):\n"
              "      Name: PartitionBootSector.SectorSize\n"
              "  Expected: 0x0200 \"512\" (512U)\n"
              "    Actual: 0x0400 \"1024\"\n");
    EXPECT_EQ(boot.SectorSize.Value(), 1024u); // the check changed nothing
}

TEST_F(LoggedTest, ReportsStayQuietBelowLevel6) {
    AAA::LogThreshold = 6;
    AAA::Field::BE field(8, "f");
    field.SetValue(1);
    EXPECT_FALSE(field.CompareValue(2, "2", "file", 1));
    EXPECT_EQ(log.Text(), "");
}

TEST_F(LoggedTest, EqualWithoutFileReportsNothing) {
    BootSector boot;
    ReadFrom(boot, kBootBytes);
    log.Clear();
    EXPECT_TRUE(boot.Oem.Equal("MSDOS5.0"));
    EXPECT_FALSE(boot.Oem.Equal("MSDOS5.1"));
    EXPECT_EQ(log.Text(), "");
}

TEST_F(LoggedTest, ExpectThrowsInvalidDataAfterItsReport) {
    BootSector boot;
    ReadFrom(boot, kBootBytes);
    log.Clear();
    EXPECT_NO_THROW(boot.Jump.Expect("\xEB\x3C\x90", "EB 3C 90", "AAALib/Boot", 10));
    EXPECT_EQ(log.Text(), "");
    EXPECT_THROW(boot.Jump.Expect("\xEB\x3C\x91", "EB 3C 91", "AAALib/Boot", 11), AAA::InvalidDataException);
    EXPECT_EQ(log.Text(),
              "AAALib/Boot(11):\n"
              "      Name: PartitionBootSector.Jump\n"
              "  Expected: 0xeb3c91 \"15416465\" (EB 3C 91)\n"
              "    Actual: 0xeb3c90 \"15416464\"\n");
}

TEST_F(LoggedTest, ExpectTrueReportsTheCondition) {
    BootSector boot;
    ReadFrom(boot, kBootBytes);
    log.Clear();
    EXPECT_NO_THROW(boot.SectorSize.ExpectTrue(true, "SectorSize >= 512", "AAALib/Boot", 20));
    EXPECT_THROW(boot.SectorSize.ExpectTrue(false, "SectorSize > 512", "AAALib/Boot", 21), AAA::InvalidDataException);
    EXPECT_EQ(log.Text(),
              "AAALib/Boot(21):\n"
              "      Name: PartitionBootSector.SectorSize\n"
              "  Expected: true (\"SectorSize > 512\")\n"
              "    Actual: 0x0200 \"512\"\n");
}

TEST_F(LoggedTest, CompareValueNeitherNotifiesNorDumps) {
    int notified = 0;
    AAA::Field::BE field(16, "Quiet");
    field.SetNotification(&notified, &Count);
    EXPECT_FALSE(field.CompareValue(7, "7", nullptr, 0));
    EXPECT_EQ(notified, 0);
    EXPECT_EQ(log.Text(), "");
}

// ---- Blocks ----------------------------------------------------------------------------

struct Swapped : AAA::Block {
    AAA::Field::BE A{8, "A"};
    AAA::Field::BE B{8, "B"};
    Swapped() : Block("Swapped") { Link(); }
    void Link() override {
        SetMembers({&B, &A}); // read order differs from declaration order
        Block::Link();
    }
};

struct Outer : AAA::Block {
    AAA::Field::BE Tag{8, "Tag"};
    BootSector Boot;
    Outer() : Block("Volume") { Link(); }
    void Link() override {
        SetMembers({&Tag, &Boot});
        Block::Link();
    }
};

TEST(Block, ReadsInMemberListOrder) {
    Swapped block;
    ReadFrom(block, {0x01, 0x02});
    EXPECT_EQ(block.B.Value(), 1u);
    EXPECT_EQ(block.A.Value(), 2u);
    EXPECT_EQ(block.BitLength(), 16);
}

TEST(Block, FullNamesRunFromTheOutermostBlock) {
    Outer outer;
    EXPECT_EQ(outer.Boot.SectorSize.FullName(), "Volume.PartitionBootSector.SectorSize");
    EXPECT_EQ(outer.Tag.FullName(), "Volume.Tag");
    EXPECT_EQ(outer.BitLength(), 8 + 24 + 64 + 16);
}

TEST(Block, ChangedWhenAnyMemberChanged) {
    Outer outer;
    Bytes bytes{0x07};
    bytes.insert(bytes.end(), kBootBytes.begin(), kBootBytes.end());
    ReadFrom(outer, bytes);
    EXPECT_FALSE(outer.IsChanged());
    outer.Boot.SectorSize.SetValue(1024);
    EXPECT_TRUE(outer.IsChanged());
}

TEST(Block, WriteEmitsTheHeldBytes) {
    Swapped block;
    ReadFrom(block, {0x01, 0x02});
    AAA::MemoryStream sink;
    AAA::BitWriter writer(sink);
    block.Write(writer);
    EXPECT_EQ(sink.Bytes(), (Bytes{0x01, 0x02}));
}

TEST(Block, CopyRelinksItsOwnMembers) {
    auto original = std::make_unique<BootSector>();
    ReadFrom(*original, kBootBytes);
    BootSector copy(*original);
    original.reset();
    EXPECT_EQ(copy.BitLength(), 24 + 64 + 16); // first use lists the copy's own members
    EXPECT_EQ(copy.SectorSize.parent, &copy);
    EXPECT_EQ(copy.SectorSize.FullName(), "PartitionBootSector.SectorSize");
    EXPECT_EQ(copy.SectorSize.Value(), 512u);
}

} // namespace
