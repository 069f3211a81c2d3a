// The 32-byte FAT slot rows: both slot records read exactly the rows, and the
// raw decoding the folder search uses reads what the records read.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "FSAccessLib/RecordRowsTestHelpers.h"
#include "FSSpecFAT16Records.h"
#include "FSSpecFAT32Records.h"
#include "FatDirectoryRecords.h"

namespace {

using namespace FSAccessLib;
using RecordRowsTest::Opened;

TEST(FatDirectoryRecords, SlotRecordsReadTheirRows) {
    RecordRowsTest::ExpectRecordReadsRows<FAT1216::DirectoryEntry1216>(AAA_LAYOUT_SPANS(FAT1216_SLOT_LAYOUT),
                                                                       kFatSlotBytes, 16);
    RecordRowsTest::ExpectRecordReadsRows<FAT32::DirectoryEntry32>(AAA_LAYOUT_SPANS(FAT32_SLOT_LAYOUT), kFatSlotBytes,
                                                                   32);
}

// The "." slot of a FAT32 folder at cluster 0x00012345.
const std::array<uint8_t, 32> kDotSlot = {
    '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', //  0 Name
    ' ', ' ', ' ',                          //  8 NameExtension
    0x10,                                   // 11 Attributes: directory
    0x00,                                   // 12 ReservedForNT
    0x64,                                   // 13 CreatedTimeTenth
    0x00, 0x60,                             // 14 CreatedTime 12:00:00
    0x21, 0x5A,                             // 16 CreatedDate 2025-01-01
    0x21, 0x5A,                             // 18 LastAccessDate
    0x01, 0x00,                             // 20 StartingClusterNumberHigh
    0x00, 0x60,                             // 22 TimeRecorded
    0x21, 0x5A,                             // 24 DateRecorded
    0x45, 0x23,                             // 26 StartingClusterNumberLow
    0x00, 0x00, 0x00, 0x00,                 // 28 FileLength: folders have none
};

TEST(FatDirectoryRecords, DecodesTheDotSlotAndEachDamagedTwin) {
    const FatSlotValues wide = DecodeFatSlot(kDotSlot, ClusterHalves::HighAndLow);
    const FatSlotValues narrow = DecodeFatSlot(kDotSlot, ClusterHalves::LowOnly);
    const std::array<uint8_t, 11> dotName = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(wide.shortName, dotName);
    EXPECT_EQ(wide.attributes, 0x10);
    EXPECT_EQ(wide.firstCluster, 0x00012345u);
    EXPECT_EQ(narrow.firstCluster, 0x2345u) << "FAT12/16 slots keep only the low half";
    EXPECT_EQ(wide.fileLength, 0u);

    // One byte changed each time; only the value holding that byte may move.
    struct Twin {
        const char* what;
        size_t offset;
        uint8_t byte;
        uint32_t wideCluster;
        uint32_t narrowCluster;
        uint8_t attributes;
    };
    const Twin twins[] = {
        {"high half 2", 20, 0x02, 0x00022345, 0x2345, 0x10},
        {"low half 0x2346", 26, 0x46, 0x00012346, 0x2346, 0x10},
        {"not a folder", 11, 0x20, 0x00012345, 0x2345, 0x20},
        {"recorded time", 22, 0x01, 0x00012345, 0x2345, 0x10},
        {"file length", 31, 0x80, 0x00012345, 0x2345, 0x10},
    };
    for (const Twin& twin : twins) {
        std::array<uint8_t, 32> slot = kDotSlot;
        slot[twin.offset] = twin.byte;
        EXPECT_EQ(DecodeFatSlot(slot, ClusterHalves::HighAndLow).firstCluster, twin.wideCluster) << twin.what;
        EXPECT_EQ(DecodeFatSlot(slot, ClusterHalves::LowOnly).firstCluster, twin.narrowCluster) << twin.what;
        EXPECT_EQ(DecodeFatSlot(slot, ClusterHalves::HighAndLow).attributes, twin.attributes) << twin.what;
    }
    EXPECT_EQ(DecodeFatSlot(std::span(kDotSlot).first(31), ClusterHalves::HighAndLow).firstCluster, 0u)
        << "a cut slot decodes as nothing";
}

// Whatever the bytes, the decoder and the records agree on every value it gives.
TEST(FatDirectoryRecords, DecoderAgreesWithBothSlotRecords) {
    std::mt19937 random(3232);
    for (int round = 0; round < 32; ++round) {
        const std::vector<uint8_t> bytes = RecordRowsTest::SeededBytes(random, kFatSlotBytes);
        Opened<FAT1216::DirectoryEntry1216> slot1216;
        Opened<FAT32::DirectoryEntry32> slot32;
        RecordRowsTest::ReadPlain(slot1216, bytes);
        RecordRowsTest::ReadPlain(slot32, bytes);
        const FatSlotValues narrow = DecodeFatSlot(bytes, ClusterHalves::LowOnly);
        const FatSlotValues wide = DecodeFatSlot(bytes, ClusterHalves::HighAndLow);
        const std::string name = slot1216.ShortName() + slot1216.ShortExtension();
        EXPECT_EQ(std::string(wide.shortName.begin(), wide.shortName.end()), name);
        EXPECT_EQ(narrow.attributes, slot1216.Attributes.Value());
        EXPECT_EQ(narrow.firstCluster, slot1216.StartingClusterNumber.Value());
        EXPECT_EQ(wide.firstCluster,
                  slot32.StartingClusterNumberHigh.Value() << 16 | slot32.StartingClusterNumberLow.Value());
        EXPECT_EQ(wide.fileLength, slot32.FileLength.Value());
    }
}

} // namespace
