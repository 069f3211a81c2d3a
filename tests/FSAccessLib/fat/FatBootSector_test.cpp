// The boot-sector offsets are the records' layout: a value written at a
// field's offset is what both FAT boot-sector records read into that field,
// and what the raw look at a sector decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "AAA_Stream.h"
#include "BootSectorSearch.h"
#include "FSAccessLib/RecordRowsTestHelpers.h"
#include "FSSpecFAT16Records.h"
#include "FSSpecFAT32Records.h"

namespace {

using namespace FSAccessLib;

struct Placed {
    int offset;
    int bytes;
};

// A sector of zeros holding `value` little-endian at the field's place.
std::vector<uint8_t> SectorWith(Placed at, uint32_t value) {
    std::vector<uint8_t> sector(BootOffset::SectorEnd, 0);
    for (int i = 0; i < at.bytes; ++i)
        sector[static_cast<size_t>(at.offset + i)] = static_cast<uint8_t>(value >> (8 * i));
    return sector;
}

template <class Record>
void ExpectFieldsAtTheirOffsets(const std::vector<std::pair<AAA::Field::LE Record::*, Placed>>& fields) {
    for (const auto& [member, at] : fields) {
        const uint32_t value = at.bytes == 1 ? 0xA5 : at.bytes == 2 ? 0xA51C : 0xA51C3E77;
        Record record;
        EXPECT_EQ(record.BitLength(), 8 * BootOffset::SectorEnd);
        AAA::MemoryStream stream(SectorWith(at, value));
        AAA::ReadRecordAt(stream, 0, record);
        EXPECT_EQ((record.*member).Value(), value) << (record.*member).FullName() << " at " << at.offset;
    }
}

TEST(FatBootSector, PrefixAndExtensionFieldsSitAtTheirOffsets) {
    using namespace BootOffset;
    ExpectFieldsAtTheirOffsets<FAT1216::ExtendedFDCDescriptor>({
        {&FAT1216::ExtendedFDCDescriptor::SectorSize, {SectorSize, 2}},
        {&FAT1216::ExtendedFDCDescriptor::SectorsPerCluster, {SectorsPerCluster, 1}},
        {&FAT1216::ExtendedFDCDescriptor::ReservedSectorCount, {ReservedSectorCount, 2}},
        {&FAT1216::ExtendedFDCDescriptor::NumberOfRootDirectoryEntries, {NumberOfRootDirectoryEntries, 2}},
        {&FAT1216::ExtendedFDCDescriptor::SectorsPerFAT, {SectorsPerFAT, 2}},
        {&FAT1216::ExtendedFDCDescriptor::NumberOfHiddenSectors, {NumberOfHiddenSectors, 4}},
        {&FAT1216::ExtendedFDCDescriptor::TotalSectors2, {TotalSectors2, 4}},
        {&FAT1216::ExtendedFDCDescriptor::VolumeIdNumber, {FAT1216::BootOffset1216::VolumeIdNumber, 4}},
    });
    ExpectFieldsAtTheirOffsets<FAT32::PartitionBootSector>({
        {&FAT32::PartitionBootSector::SectorSize, {SectorSize, 2}},
        {&FAT32::PartitionBootSector::NumberOfSides, {NumberOfSides, 2}},
        {&FAT32::PartitionBootSector::TotalSectors2, {TotalSectors2, 4}},
        {&FAT32::PartitionBootSector::SectorsPerFAT32, {FAT32::BootOffset32::SectorsPerFAT32, 4}},
        {&FAT32::PartitionBootSector::RootCluster, {FAT32::BootOffset32::RootCluster, 4}},
        {&FAT32::PartitionBootSector::FsInfo, {FAT32::BootOffset32::FsInfo, 2}},
        {&FAT32::PartitionBootSector::BackupBootSector, {FAT32::BootOffset32::BackupBootSector, 2}},
        {&FAT32::PartitionBootSector::VolumeIDNumber, {FAT32::BootOffset32::VolumeIDNumber, 4}},
    });
}

} // namespace

// ---- The rows, the records and the raw decoding agree ------------------------------------------

namespace {

using namespace FSAccessLib;
using RecordRowsTest::ExpectRecordReadsRows;

constexpr auto kFat1216Rows = AAA_LAYOUT_SPANS(FAT1216_BOOT_LAYOUT);
constexpr auto kFat32Rows = AAA_LAYOUT_SPANS(FAT32_BOOT_LAYOUT);

TEST(FatBootSector, RecordsReadTheirRows) {
    ExpectRecordReadsRows<FAT1216::ExtendedFDCDescriptor>(kFat1216Rows, BootOffset::SectorEnd, 1216);
    ExpectRecordReadsRows<FAT32::PartitionBootSector>(kFat32Rows, BootOffset::SectorEnd, 32);
}

// A FAT16 boot-sector head as a formatter writes it; the rest of the sector is zero.
std::vector<uint8_t> GoodFat16Sector() {
    const uint8_t head[36] = {
        0xEB, 0x3C, 0x90,                        //  0 JumpCommand
        'M', 'S', 'D', 'O', 'S', '5', '.', '0',  //  3 CreatingSystemIdentifier
        0x00, 0x02,                              // 11 SectorSize 512
        0x20,                                    // 13 SectorsPerCluster 32
        0x08, 0x00,                              // 14 ReservedSectorCount 8
        0x02,                                    // 16 NumberOfFATs
        0x00, 0x02,                              // 17 NumberOfRootDirectoryEntries 512
        0x00, 0x00,                              // 19 TotalSectors1: see TotalSectors2
        0xF8,                                    // 21 MediumIdentifier
        0xF5, 0x00,                              // 22 SectorsPerFAT 245
        0x3F, 0x00,                              // 24 SectorsPerTrack
        0xFF, 0x00,                              // 26 NumberOfSides
        0x87, 0x00, 0x00, 0x00,                  // 28 NumberOfHiddenSectors 135
        0x79, 0xC5, 0x3C, 0x00,                  // 32 TotalSectors2 3 982 713
    };
    std::vector<uint8_t> sector(512, 0);
    std::copy(std::begin(head), std::end(head), sector.begin());
    sector[510] = 0x55; // 510 SignatureWord
    sector[511] = 0xAA;
    return sector;
}

TEST(FatBootSector, DecodesTheGoodPrefixAndSeesEachDamagedTwin) {
    const std::vector<uint8_t> good = GoodFat16Sector();
    const FatBootPrefixValues values = DecodeFatBootPrefix(good);
    EXPECT_EQ(values.sectorSize, 512u);
    EXPECT_EQ(values.sectorsPerCluster, 32u);
    EXPECT_EQ(values.reservedSectorCount, 8u);
    EXPECT_EQ(values.numberOfFATs, 2u);
    EXPECT_EQ(values.numberOfRootDirectoryEntries, 512u);
    EXPECT_EQ(values.totalSectors1, 0u);
    EXPECT_EQ(values.sectorsPerFAT, 245u);
    EXPECT_EQ(values.totalSectors2, 3982713u);
    EXPECT_TRUE(values.signatureWord);
    EXPECT_TRUE(LooksLikeBootSector(good.data()));

    // Each twin differs from the good sector in one byte.
    struct Twin {
        const char* what;
        size_t offset;
        uint8_t byte;
        bool looksLikeBootSector;
    };
    const Twin twins[] = {
        {"signature 0x55AB", 511, 0xAB, false},
        {"sector size 0x0300, not a power of two", 12, 0x03, false},
        {"sector size 8192, too large", 12, 0x20, false},
        {"no sectors per cluster", 13, 0x00, false},
        {"3 sectors per cluster", 13, 0x03, false},
        {"no jump", 0, 0x00, false},
        {"a near jump instead", 0, 0xE9, true},
        {"another creator", 3, 'm', true},
    };
    for (const Twin& twin : twins) {
        std::vector<uint8_t> sector = good;
        sector[twin.offset] = twin.byte;
        EXPECT_EQ(LooksLikeBootSector(sector.data()), twin.looksLikeBootSector) << twin.what;
    }
    std::vector<uint8_t> shortSector(good.begin(), good.begin() + 100);
    EXPECT_FALSE(DecodeFatBootPrefix(shortSector).signatureWord) << "a short buffer has no signature word";
    EXPECT_EQ(DecodeFatBootPrefix(shortSector).sectorSize, 512u);
}

// The decoder reads what the records read, whatever the bytes.
TEST(FatBootSector, DecoderAgreesWithTheRecordOnSeededSectors) {
    std::mt19937 random(512);
    for (int round = 0; round < 16; ++round) {
        const std::vector<uint8_t> bytes = RecordRowsTest::SeededBytes(random, BootOffset::SectorEnd);
        RecordRowsTest::Opened<FAT32::PartitionBootSector> record;
        RecordRowsTest::ReadPlain(record, bytes);
        const FatBootPrefixValues values = DecodeFatBootPrefix(bytes);
        EXPECT_EQ(values.sectorSize, record.SectorSize.Value());
        EXPECT_EQ(values.sectorsPerCluster, record.SectorsPerCluster.Value());
        EXPECT_EQ(values.reservedSectorCount, record.ReservedSectorCount.Value());
        EXPECT_EQ(values.numberOfFATs, record.NumberOfFATs.Value());
        EXPECT_EQ(values.numberOfRootDirectoryEntries, record.NumberOfRootDirectoryEntries.Value());
        EXPECT_EQ(values.totalSectors1, record.TotalSectors1.Value());
        EXPECT_EQ(values.sectorsPerFAT, record.SectorsPerFAT.Value());
        EXPECT_EQ(values.totalSectors2, record.TotalSectors2.Value());
        EXPECT_EQ(values.signatureWord, record.SignatureWord.Value() == 0x55AA);
    }
}

} // namespace

namespace {

TEST(FatBootSector, FsInfoAndTableHeadsReadTheirRows) {
    RecordRowsTest::ExpectRecordReadsRows<FSAccessLib::FAT32::FsInfo>(AAA_LAYOUT_SPANS(FAT32_FSINFO_LAYOUT), 512, 7);
    RecordRowsTest::ExpectRecordReadsRows<FSAccessLib::FAT32::FileAllocationTableCheck>(
        AAA_LAYOUT_SPANS(FAT32_TABLE_HEAD_LAYOUT), 8, 8);
    RecordRowsTest::ExpectRecordReadsRows<FSAccessLib::FAT1216::FileAllocationTable16Check>(
        AAA_LAYOUT_SPANS(FAT16_TABLE_HEAD_LAYOUT), 4, 9);
}

} // namespace
