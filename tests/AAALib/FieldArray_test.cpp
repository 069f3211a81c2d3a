#include "AAA_Field.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "LogCapture.h"

namespace {

using AAATest::LoggedTest;
using Bytes = std::vector<uint8_t>;
using PackedTable = AAA::Array<AAA::Field::LE>;

Bytes RandomBytes(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& byte : bytes)
        byte = static_cast<uint8_t>(random());
    return bytes;
}

// A table behind a one-byte header, as allocation tables follow their media byte.
struct FatTable : AAA::Block {
    AAA::Field::LE Media{8, "Media"};
    PackedTable Entries;

    FatTable(int bits, size_t count) : Block("Fat"), Entries(bits, "Entry") {
        Entries.Resize(count);
        Link();
    }
    void Link() override {
        SetMembers({&Media, &Entries});
        Block::Link();
    }
};

// Reads `count` standalone fields the long way, for comparison with the table.
std::vector<AAA::Field::LE> ReadStandalone(AAA::BitReader& reader, int bits, size_t count, AAA::Element* parent) {
    std::vector<AAA::Field::LE> fields;
    for (size_t i = 0; i < count; ++i) {
        fields.emplace_back(bits, "Entry");
        fields.back().parent = parent;
        fields.back().Read(reader);
    }
    return fields;
}

void ExpectSameField(const AAA::Field::LE& entry, const AAA::Field::LE& field) {
    EXPECT_EQ(entry.Data(), field.Data());
    EXPECT_EQ(entry.Value(), field.Value());
    EXPECT_EQ(entry.Value64(), field.Value64());
    EXPECT_EQ(entry.ToString(), field.ToString());
    EXPECT_EQ(entry.FullName(), field.FullName());
    EXPECT_EQ(entry.Position(), field.Position());
    EXPECT_EQ(entry.BitLength(), field.BitLength());
    EXPECT_STREQ(entry.Kind(), "LE");
    EXPECT_FALSE(entry.IsChanged());
}

// ---- Packed little-endian tables ---------------------------------------------------------

TEST(PackedTable, StrideFollowsEntryWidth) {
    const std::pair<int, size_t> strides[] = {{8, 1}, {12, 2}, {16, 2}, {32, 4}, {64, 8}};
    for (const auto& [bits, stride] : strides) {
        PackedTable table(bits, "Entry");
        table.Resize(1000);
        EXPECT_EQ(table.MemoryBytes(), 1000 * stride) << bits;
        EXPECT_EQ(table.size(), 1000u);
        EXPECT_EQ(table.BitLength(), 1000 * bits);
        // New entries look like freshly constructed fields.
        EXPECT_EQ(table.Entry(999).Data(), AAA::Field::LE(bits, "Entry").Data()) << bits;
    }
}

TEST(PackedTable, BulkReadAnswersLikeStandaloneFields) {
    const size_t count = 300;
    Bytes bytes{0xF8}; // media byte
    const Bytes entries = RandomBytes(count * 4, 1);
    bytes.insert(bytes.end(), entries.begin(), entries.end());

    FatTable table(32, count);
    AAA::MemoryStream stream(bytes);
    AAA::BitReader reader(stream);
    table.Read(reader);

    AAA::MemoryStream again(bytes);
    AAA::BitReader longWay(again);
    AAA::Field::LE media(8, "Media");
    media.Read(longWay);
    const auto fields = ReadStandalone(longWay, 32, count, &table);
    for (size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        ExpectSameField(table.Entries.Entry(i), fields[i]);
        EXPECT_EQ(table.Entries[i].Value(), fields[i].Value());
    }
    EXPECT_EQ(table.Entries.Entry(0).FullName(), "Fat.Entry");
    EXPECT_EQ(table.Entries.Entry(0).Position(), 8);
    EXPECT_EQ(table.Entries.Value(1), uint32_t(entries[4] | entries[5] << 8 | entries[6] << 16 | entries[7] << 24));
}

TEST(PackedTable, UnalignedAndOddWidthsReadEntryByEntry) {
    for (int bits : {12, 16, 32}) {
        const size_t count = 100;
        const Bytes bytes = RandomBytes(count * 8 + 2, 2);
        // Twin streams: a 4-bit lead-in puts the table off the byte grid.
        AAA::MemoryStream stream(bytes), again(bytes);
        AAA::BitReader reader(stream), longWay(again);
        AAA::Field::BE lead(4, "Lead"), leadAgain(4, "Lead");
        lead.Read(reader);
        leadAgain.Read(longWay);

        PackedTable table(bits, "Entry");
        table.Resize(count);
        table.Read(reader);
        const auto fields = ReadStandalone(longWay, bits, count, nullptr);
        for (size_t i = 0; i < count; ++i) {
            SCOPED_TRACE(testing::Message() << bits << " bits, entry " << i);
            ExpectSameField(table.Entry(i), fields[i]);
        }
        EXPECT_EQ(reader.BitsConsumed(), longWay.BitsConsumed());
    }
}

TEST(PackedTable, AlignedTwelveBitEntriesMatchFields) {
    const Bytes bytes = RandomBytes(150, 3);
    AAA::MemoryStream stream(bytes), again(bytes);
    AAA::BitReader reader(stream), longWay(again);
    PackedTable table(12, "Entry");
    table.Resize(100);
    table.Read(reader);
    const auto fields = ReadStandalone(longWay, 12, 100, nullptr);
    for (size_t i = 0; i < 100; ++i)
        EXPECT_EQ(table.Value(i), fields[i].Value()) << i;
}

TEST_F(LoggedTest, EntryViewAnswersAsAField) {
    FatTable table(16, 2);
    AAA::MemoryStream stream(Bytes{0xF8, 0x00, 0x02, 0xFF, 0xFF});
    AAA::BitReader reader(stream);
    {
        AAA::LogThresholdCeiling quiet(6);
        table.Read(reader);
    }
    EXPECT_EQ(log.Text(), ""); // bulk reads are silenced under the ceiling
    const auto entry = table.Entries[0];
    EXPECT_EQ(entry.Value(), 512u);
    EXPECT_EQ(entry.ToString(), "512");
    EXPECT_EQ(entry.FullName(), "Fat.Entry");
    entry.Dump("");
    EXPECT_EQ(log.Text(), "    Fat.Entry {16,LE} = 0x0200 \"512\"\n");
    EXPECT_EQ(table.Entries[1].Value64(), 0xFFFFu);
}

TEST_F(LoggedTest, TraceLevelReadDumpsEveryEntry) {
    FatTable table(16, 3);
    AAA::MemoryStream stream(Bytes{0xF8, 1, 0, 2, 0, 3, 0});
    AAA::BitReader reader(stream);
    table.Read(reader);
    EXPECT_EQ(log.Text(),
              "    Fat.Media {8,LE} = 0xf8 \"248\"\n"
              "    Fat.Entry {16,LE} = 0x0001 \"1\"\n"
              "    Fat.Entry {16,LE} = 0x0002 \"2\"\n"
              "    Fat.Entry {16,LE} = 0x0003 \"3\"\n");
}

TEST(PackedTable, ShortStreamIsUnexpectedEof) {
    PackedTable table(32, "Entry");
    table.Resize(10);
    AAA::MemoryStream stream(Bytes(39));
    AAA::BitReader reader(stream);
    EXPECT_THROW(table.Read(reader), AAA::UnexpectedEofException);
}

TEST(PackedTable, SetValueMarksChangedUntilTheNextRead) {
    PackedTable table(64, "Entry");
    table.Resize(2);
    EXPECT_FALSE(table.IsChanged());
    table.SetValue(1, 0x0123456789ABCDEF);
    EXPECT_EQ(table.Value64(1), 0x0123456789ABCDEFu);
    EXPECT_EQ(table.Value(1), 0x89ABCDEFu);
    EXPECT_EQ(table.Entry(1).Data(), (Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_TRUE(table.IsChanged());
    AAA::MemoryStream stream(Bytes(16, 0));
    AAA::BitReader reader(stream);
    table.Read(reader);
    EXPECT_FALSE(table.IsChanged());
    EXPECT_EQ(table.Value64(1), 0u);
}

TEST(PackedTable, WritesWhatItsFieldsWouldWrite) {
    const Bytes bytes = RandomBytes(40, 4);
    AAA::MemoryStream stream(bytes), again(bytes);
    AAA::BitReader reader(stream), longWay(again);
    PackedTable table(32, "Entry");
    table.Resize(10);
    table.Read(reader);
    auto fields = ReadStandalone(longWay, 32, 10, nullptr);

    AAA::MemoryStream fromTable, fromFields;
    AAA::BitWriter tableWriter(fromTable), fieldWriter(fromFields);
    table.Write(tableWriter);
    for (auto& field : fields)
        field.Write(fieldWriter);
    EXPECT_EQ(fromTable.Bytes(), fromFields.Bytes());
    EXPECT_EQ(fromTable.Bytes().size(), 40u);
}

// ---- Arrays of records held by value ----------------------------------------------------

void ResizeToCount(void* context);

struct Directory : AAA::Block {
    AAA::Field::BE Count{8, "Count"};
    AAA::Array<AAA::Field::BE> Items{AAA::Field::BE(8, "Item")};

    Directory() : Block("Dir") {
        Count.SetNotification(this, &ResizeToCount);
        Link();
    }
    void Link() override {
        SetMembers({&Count, &Items});
        Block::Link();
    }
};

void ResizeToCount(void* context) {
    auto* dir = static_cast<Directory*>(context);
    dir->Items.Resize(dir->Count.Value());
}

TEST(ValueArray, CountFieldSizesTheArrayDuringTheSameRead) {
    Directory dir;
    AAA::MemoryStream stream(Bytes{2, 0x0A, 0x0B, 0xFF});
    AAA::BitReader reader(stream);
    dir.Read(reader);
    ASSERT_EQ(dir.Items.size(), 2u);
    EXPECT_EQ(dir.Items[0].Value(), 0x0Au);
    EXPECT_EQ(dir.Items[1].Value(), 0x0Bu);
    EXPECT_EQ(dir.Items[1].Position(), 16);
    EXPECT_EQ(dir.Items[1].FullName(), "Dir.Item"); // the array adds no name
    EXPECT_EQ(reader.BitsConsumed(), 24u);
    EXPECT_EQ(dir.BitLength(), 24);
}

struct Chain {
    AAA::Array<AAA::Field::BE>* items = nullptr;
};

// Each nonzero element announces one more element after it.
void GrowWhileNonzero(void* context) {
    auto* items = static_cast<Chain*>(context)->items;
    if (items->back().Value() != 0)
        items->Resize(items->size() + 1);
}

TEST(ValueArray, ElementAppendedByANotificationIsReadInTheSamePass) {
    Chain chain;
    AAA::Field::BE prototype(8, "Link");
    prototype.SetNotification(&chain, &GrowWhileNonzero);
    AAA::Array<AAA::Field::BE> items(prototype);
    chain.items = &items;
    items.Resize(1);
    AAA::MemoryStream stream(Bytes{3, 1, 0, 9});
    AAA::BitReader reader(stream);
    items.Read(reader);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].Value(), 3u);
    EXPECT_EQ(items[1].Value(), 1u);
    EXPECT_EQ(items[2].Value(), 0u);
    EXPECT_EQ(reader.BitsConsumed(), 24u);
}

TEST(ValueArray, PrototypeGivesSizeNameAndChangeTracking) {
    AAA::Array<AAA::Field::Utf16> names(AAA::Field::Utf16(32, "Name"));
    names.Resize(2);
    EXPECT_EQ(names[1].BitLength(), 32);
    EXPECT_EQ(names[1].name, "Name");
    EXPECT_EQ(names.BitLength(), 64);
    EXPECT_FALSE(names.IsChanged());
    names[1].SetValue(0x41004200);
    EXPECT_TRUE(names.IsChanged());
    EXPECT_EQ(names[1].ToWideString(), u"AB");
}

struct Entry : AAA::Block {
    AAA::Field::LE Cluster{16, "Cluster"};
    AAA::Field::Str Ext{24, "Ext"};
    Entry() : Block("Entry") { Link(); }
    Entry(const Entry&) = default;
    void Link() override {
        SetMembers({&Cluster, &Ext});
        Block::Link();
    }
};

struct Listing : AAA::Block {
    AAA::Array<Entry> Entries{Entry()};
    Listing() : Block("Listing") {
        Entries.Resize(2);
        Link();
    }
    void Link() override {
        SetMembers({&Entries});
        Block::Link();
    }
};

TEST(ValueArray, ArrayOfBlocks) {
    Listing listing;
    AAA::MemoryStream stream(Bytes{0x02, 0x00, 'M', 'T', 'S', 0x10, 0x00, 'J', 'P', 'G'});
    AAA::BitReader reader(stream);
    listing.Read(reader);
    EXPECT_EQ(listing.Entries[0].Cluster.Value(), 2u);
    EXPECT_EQ(listing.Entries[1].Cluster.Value(), 16u);
    EXPECT_EQ(listing.Entries[1].Ext.ToString(), "JPG");
    EXPECT_EQ(listing.Entries[1].Ext.FullName(), "Listing.Entry.Ext");
    EXPECT_EQ(listing.BitLength(), 80);
}

} // namespace
