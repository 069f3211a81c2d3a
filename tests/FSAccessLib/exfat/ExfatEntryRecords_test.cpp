// The exFAT entry rows, one layout per type: each entry record reads exactly
// its rows, and the raw decoders the folder search uses read what the records
// read. The set checksum is checked against the image builder's own.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "ExfatEntryRecords.h"
#include "FSAccessLib/RecordRowsTestHelpers.h"
#include "FSSpecExFATEntries.h"
#include "support/ExFatEncoding.h"

namespace {

using namespace FSAccessLib::ExFAT;
using RecordRowsTest::ExpectRecordReadsRows;
using RecordRowsTest::Opened;

TEST(ExfatEntryRecords, EachTypeReadsItsRows) {
    ExpectRecordReadsRows<DirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_ENTRY_LAYOUT), kEntryBytes, 1);
    ExpectRecordReadsRows<AllocationBitmapDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_PRIMARY_ENTRY_LAYOUT), kEntryBytes, 2);
    ExpectRecordReadsRows<UpCaseTableDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_PRIMARY_ENTRY_LAYOUT), kEntryBytes, 3);
    ExpectRecordReadsRows<VolumeGUIDDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_PRIMARY_ENTRY_LAYOUT), kEntryBytes, 4);
    ExpectRecordReadsRows<VendorExtensionDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_SECONDARY_ENTRY_LAYOUT), kEntryBytes,
                                                         5);
    ExpectRecordReadsRows<VendorAllocationDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_SECONDARY_ENTRY_LAYOUT), kEntryBytes,
                                                          6);
    ExpectRecordReadsRows<VolumeLabelDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_VOLUME_LABEL_ENTRY_LAYOUT), kEntryBytes, 7);
    ExpectRecordReadsRows<FileDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_FILE_ENTRY_LAYOUT), kEntryBytes, 8);
    ExpectRecordReadsRows<StreamExtensionDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_STREAM_EXTENSION_ENTRY_LAYOUT),
                                                         kEntryBytes, 9);
    ExpectRecordReadsRows<FileNameDirectoryEntry>(AAA_LAYOUT_SPANS(EXFAT_FILE_NAME_ENTRY_LAYOUT), kEntryBytes, 10);
}

TEST(ExfatEntryRecords, DecodersAgreeWithTheRecordsOnSeededEntries) {
    std::mt19937 random(0x85C0);
    for (int round = 0; round < 32; ++round) {
        const std::vector<uint8_t> bytes = RecordRowsTest::SeededBytes(random, kEntryBytes);
        Opened<FileDirectoryEntry> file;
        Opened<StreamExtensionDirectoryEntry> stream;
        RecordRowsTest::ReadPlain(file, bytes);
        RecordRowsTest::ReadPlain(stream, bytes);
        const FileEntryValues fileValues = DecodeFileEntry(bytes);
        EXPECT_EQ(EntryTypeOf(bytes), file.EntryType.Value());
        EXPECT_EQ(fileValues.entryType, file.EntryType.Value());
        EXPECT_EQ(fileValues.secondaryCount, file.SecondaryCount.Value());
        EXPECT_EQ(fileValues.setChecksum, file.SetChecksum.Value());
        EXPECT_EQ(fileValues.fileAttributes, file.FileAttributes.Value());
        const StreamExtensionValues streamValues = DecodeStreamExtension(bytes);
        EXPECT_EQ(streamValues.entryType, stream.EntryType.Value());
        EXPECT_EQ(streamValues.generalSecondaryFlags, stream.GeneralSecondaryFlags.Value());
        EXPECT_EQ(streamValues.nameLength, stream.NameLength.Value());
        EXPECT_EQ(streamValues.validDataLength, stream.ValidDataLength.Value64());
        EXPECT_EQ(streamValues.firstCluster, stream.FirstCluster.Value());
        EXPECT_EQ(streamValues.dataLength, stream.DataLength.Value64());
    }
}

// A File entry, its Stream Extension and one File Name entry ("A.MTS").
std::vector<TestSupport::ExFat::Slot> GoodSet() {
    std::vector<TestSupport::ExFat::Slot> set(3);
    set[0] = {0x85, 0x02, 0x00, 0x00, 0x20, 0x00}; // EntryType File, SecondaryCount 2, SetChecksum (below), FileAttributes
    set[1] = {0xC0, 0x03, 0x00, 0x05};             // EntryType Stream Extension, flags, Reserved1, NameLength 5
    set[1][20] = 0x07;                             // FirstCluster 7
    set[1][25] = 0x10;                             // DataLength 4096
    set[2] = {0xC1, 0x00, 'A', 0, '.', 0, 'M', 0, 'T', 0, 'S', 0}; // EntryType File Name, FileName
    const uint16_t checksum = TestSupport::ExFat::SetChecksum(set);
    set[0][2] = static_cast<uint8_t>(checksum);
    set[0][3] = static_cast<uint8_t>(checksum >> 8);
    return set;
}

std::vector<uint8_t> Flatten(const std::vector<TestSupport::ExFat::Slot>& set) {
    std::vector<uint8_t> bytes;
    for (const auto& slot : set)
        bytes.insert(bytes.end(), slot.begin(), slot.end());
    return bytes;
}

TEST(ExfatEntryRecords, SetChecksumMatchesTheBuildersAndSeesEachDamagedTwin) {
    const auto set = GoodSet();
    const std::vector<uint8_t> good = Flatten(set);
    EXPECT_EQ(EntrySetChecksum(good), DecodeFileEntry(good).setChecksum);
    EXPECT_EQ(DecodeStreamExtension(std::span(good).subspan(32, 32)).nameLength, 5);
    EXPECT_EQ(DecodeStreamExtension(std::span(good).subspan(32, 32)).dataLength, 4096u);

    struct Twin {
        const char* what;
        size_t offset;
        bool checksumHolds;
    };
    const Twin twins[] = {
        {"type byte", 0, false},         {"secondary count", 1, false}, {"the checksum's own low byte", 2, true},
        {"the checksum's own high byte", 3, true}, {"name length", 32 + 3, false}, {"last name unit", 64 + 11, false},
        {"last byte of the set", 95, false},
    };
    for (const Twin& twin : twins) {
        std::vector<uint8_t> bytes = good;
        bytes[twin.offset] ^= 0x01;
        EXPECT_EQ(EntrySetChecksum(bytes) == DecodeFileEntry(good).setChecksum, twin.checksumHolds) << twin.what;
    }
}

TEST(ExfatEntryRecords, SetChecksumAgreesWithTheBuildersOnSeededSets) {
    std::mt19937 random(0xC1);
    for (size_t entries = 1; entries <= 19; entries += 3) {
        std::vector<TestSupport::ExFat::Slot> set(entries);
        for (auto& slot : set) {
            const auto bytes = RecordRowsTest::SeededBytes(random, kEntryBytes);
            std::copy(bytes.begin(), bytes.end(), slot.begin());
        }
        EXPECT_EQ(EntrySetChecksum(Flatten(set)), TestSupport::ExFat::SetChecksum(set)) << entries << " entries";
    }
}

} // namespace
