// The exFAT records read from memory: each good byte layout beside a twin that
// differs in one field.
#include <gtest/gtest.h>

#include <algorithm>

#include <array>
#include <cstdint>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_Exceptions.h"
#include "AAA_Stream.h"
#include "ExFatReaderTestSupport.h"
#include "FSSpecExFAT.h"

namespace {

using namespace FSAccessLib::ExFAT;
using ExFatReaderTest::LogCapture;

template <class Record>
void ReadFrom(Record& record, const std::vector<uint8_t>& bytes) {
    AAA::MemoryStream stream(bytes);
    AAA::BitReader reader(stream);
    record.Read(reader);
}

// ---- Boot sector ----------------------------------------------------------------------------------

std::vector<uint8_t> GoodBootSector() {
    const uint8_t head[120] = {
        0xEB, 0x76, 0x90,                               //   0 JumpBoot
        'E', 'X', 'F', 'A', 'T', ' ', ' ', ' ',         //   3 FileSystemName
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,          //  11 MustBeZero (53 bytes) ...
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
        0, 0, 0, 0, 0, 0, 0, 0,                         //     ... to byte 63
        0x00, 0x08, 0, 0, 0, 0, 0, 0,                   //  64 PartitionOffset 2048
        0x02, 0x00, 0x00, 0x00, 0x01, 0, 0, 0,          //  72 VolumeLength 2^32 + 2 sectors
        0x00, 0x08, 0x00, 0x00,                         //  80 FatOffset 2048
        0x40, 0x00, 0x00, 0x00,                         //  84 FatLength 64
        0x00, 0x10, 0x00, 0x00,                         //  88 ClusterHeapOffset 4096
        0xC0, 0x07, 0x00, 0x00,                         //  92 ClusterCount 1984
        0x04, 0x00, 0x00, 0x00,                         //  96 FirstClusterOfRootDirectory 4
        0x78, 0x56, 0x34, 0x12,                         // 100 VolumeSerialNumber
        0x00, 0x01,                                     // 104 FileSystemRevision 1.00 (minor, major)
        0x03, 0x00,                                     // 106 VolumeFlags: ActiveFat, VolumeDirty
        0x09,                                           // 108 BytesPerSectorShift: 512
        0x06,                                           // 109 SectorsPerClusterShift: 64 sectors
        0x02,                                           // 110 NumberOfFats
        0x80,                                           // 111 DriveSelect
        0x07,                                           // 112 PercentInUse
        0, 0, 0, 0, 0, 0, 0,                            // 113 Reserved
    };
    std::vector<uint8_t> sector(512, 0xF4);             // 120 BootCode
    std::copy(std::begin(head), std::end(head), sector.begin());
    sector[510] = 0x55;                                 // 510 BootSignature
    sector[511] = 0xAA;
    return sector;
}

TEST(ExFatBootSectorRecord, ReadsEveryFieldOfAGoodSector) {
    BootSector boot;
    ReadFrom(boot, GoodBootSector());
    EXPECT_EQ(boot.FileSystemName.ToString(), "EXFAT   ");
    EXPECT_EQ(boot.PartitionOffset.Value64(), 2048u);
    EXPECT_EQ(boot.VolumeLength.Value64(), (1ull << 32) + 2);
    EXPECT_EQ(boot.VolumeLength.Value(), 2u) << "Value() keeps the low half only";
    EXPECT_EQ(boot.FatOffset.Value(), 2048u);
    EXPECT_EQ(boot.FatLength.Value(), 64u);
    EXPECT_EQ(boot.ClusterHeapOffset.Value(), 4096u);
    EXPECT_EQ(boot.ClusterCount.Value(), 1984u);
    EXPECT_EQ(boot.FirstClusterOfRootDirectory.Value(), 4u);
    EXPECT_EQ(boot.VolumeSerialNumber.Value(), 0x12345678u);
    EXPECT_EQ(boot.FileSystemRevision.minor_revision_number.Value(), 0u);
    EXPECT_EQ(boot.FileSystemRevision.major_revision_number.Value(), 1u);
    EXPECT_EQ(boot.VolumeFlags.ActiveFat.Value(), 1u);
    EXPECT_EQ(boot.VolumeFlags.VolumeDirty.Value(), 1u);
    EXPECT_EQ(boot.VolumeFlags.MediaFailure.Value(), 0u);
    EXPECT_EQ(boot.BytesPerSectorShift.Value(), 9u);
    EXPECT_EQ(boot.SectorsPerClusterShift.Value(), 6u);
    EXPECT_EQ(boot.NumberOfFats.Value(), 2u);
    EXPECT_EQ(boot.PercentInUse.Value(), 7u);
    EXPECT_EQ(boot.BitLength(), 512 * 8);
    EXPECT_EQ(boot.FatLength.FullName(), "BootSector.FatLength");
    EXPECT_EQ(boot.VolumeFlags.ActiveFat.FullName(), "BootSector.VolumeFlags.ActiveFat");
}

struct BootTwin {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    const char* logged; // source line and field of the report
};

TEST(ExFatBootSectorRecord, EachCheckRefusesItsMinimallyCorruptedTwin) {
    const std::vector<BootTwin> twins = {
        {"name", 3, {'E', 'X', 'F', 'A', 'T', ' ', ' ', '!'}, "FSAccessLib/FSSpecExFAT(155):\n      Name: BootSector.FileSystemName"},
        {"MustBeZero first byte", 11, {0x01}, "FSAccessLib/FSSpecExFAT(156):\n      Name: BootSector.MustBeZero"},
        {"MustBeZero last byte", 63, {0x80}, "FSAccessLib/FSSpecExFAT(156):"},
        {"major revision 2", 105, {0x02}, "FSAccessLib/FSSpecExFAT(157):\n      Name: BootSector.FileSystemRevision.major_revision_number"},
        {"reserved byte 113", 113, {0x01}, "FSAccessLib/FSSpecExFAT(160):\n      Name: BootSector.Reserved"},
        {"reserved byte 119", 119, {0x01}, "FSAccessLib/FSSpecExFAT(160):"},
        {"signature swapped", 510, {0xAA, 0x55}, "FSAccessLib/FSSpecExFAT(161):\n      Name: BootSector.BootSignature"},
        {"sector shift 8", 108, {8}, "Name: BootSector.BytesPerSectorShift"},
        {"sector shift 13", 108, {13}, "Name: BootSector.BytesPerSectorShift"},
        {"cluster of 64 MiB", 109, {17}, "Name: BootSector.SectorsPerClusterShift"},
        {"cluster shift 255", 109, {255}, "Name: BootSector.SectorsPerClusterShift"},
    };
    for (const BootTwin& twin : twins) {
        SCOPED_TRACE(twin.what);
        std::vector<uint8_t> bytes = GoodBootSector();
        std::copy(twin.bytes.begin(), twin.bytes.end(), bytes.begin() + static_cast<std::ptrdiff_t>(twin.offset));
        LogCapture log;
        BootSector boot;
        EXPECT_THROW(ReadFrom(boot, bytes), AAA::InvalidDataException);
        EXPECT_TRUE(log.Contains(twin.logged)) << log.Text();
    }
}

TEST(ExFatBootSectorRecord, ReportsExpectedAndActualBytes) {
    std::vector<uint8_t> bytes = GoodBootSector();
    bytes[105] = 0x02;
    LogCapture log;
    BootSector boot;
    EXPECT_THROW(ReadFrom(boot, bytes), AAA::InvalidDataException);
    EXPECT_TRUE(log.Contains("  Expected: 0x01 \"1\" (0x01)\n    Actual: 0x02 \"2\"\n")) << log.Text();
}

TEST(ExFatBootSectorRecord, LargestLegalShiftsPass) {
    std::vector<uint8_t> bytes = GoodBootSector();
    bytes[108] = 12; // 4 KiB sectors
    bytes[109] = 13; // 32 MiB clusters
    BootSector boot;
    EXPECT_NO_THROW(ReadFrom(boot, bytes));
    bytes[109] = 14;
    EXPECT_THROW(ReadFrom(boot, bytes), AAA::InvalidDataException);
}

TEST(ExFatBootSectorRecord, RefusesAVolumeLengthBeyondSixtyFourBitsOfBytes) {
    std::vector<uint8_t> bytes = GoodBootSector();
    const uint8_t length[8] = {0, 0, 0, 0, 0, 0, 0x80, 0x00}; // 2^55 sectors of 512 bytes: 2^64 bytes
    std::copy(length, length + 8, bytes.begin() + 72);
    BootSector boot;
    EXPECT_THROW(ReadFrom(boot, bytes), AAA::InvalidDataException);
    bytes[78] = 0x7F; // just below
    EXPECT_NO_THROW(ReadFrom(boot, bytes));
}

TEST(ExFatBootSectorRecord, TooShortASectorIsAnEndOfMedium) {
    std::vector<uint8_t> bytes = GoodBootSector();
    bytes.resize(300);
    BootSector boot;
    EXPECT_THROW(ReadFrom(boot, bytes), AAA::UnexpectedEofException);
}

// ---- Allocation table ------------------------------------------------------------------------------------

TEST(ExFatAllocationTableRecord, CountResizesAndEntriesReadLittleEndian) {
    FileAllocationTable table;
    EXPECT_EQ(table.NumberOfEntries.Value(), 0u);
    EXPECT_EQ(table.Entry.size(), 0u);
    table.NumberOfEntries.SetValue(3);
    ASSERT_EQ(table.Entry.size(), 3u);
    ReadFrom(table, {
                        0xF8, 0xFF, 0xFF, 0xFF, // entry 0: media
                        0xFF, 0xFF, 0xFF, 0xFF, // entry 1
                        0x06, 0x00, 0x01, 0x00, // entry 2 -> 0x00010006
                    });
    EXPECT_EQ(table.Entry.Value(0), 0xFFFFFFF8u);
    EXPECT_EQ(table.Entry.Value(2), 0x00010006u);
    EXPECT_EQ(table.Entry.Entry(2).FullName(), "FileAllocationTable.Entry");
}

// ---- Directory entries -------------------------------------------------------------------------------------

const SlotBytes kFileSlot = {
    0x85,                   //  0 EntryType: File, in use
    0x03,                   //  1 SecondaryCount
    0x34, 0x12,             //  2 SetChecksum
    0x10, 0x00,             //  4 FileAttributes: directory
    0x00, 0x00,             //  6 Reserved1
    0x21, 0x43, 0x65, 0x87, //  8 CreateTimestamp
    0x01, 0x00, 0x00, 0x00, // 12 LastModifiedTimestamp
    0x02, 0x00, 0x00, 0x00, // 16 LastAccessedTimestamp
    0x63,                   // 20 Create10msIncrement
    0x00,                   // 21 LastModified10msIncrement
    0x80, 0x80, 0x80,       // 22 Create/LastModified/LastAccessed UtcOffset
    0, 0, 0, 0, 0, 0, 0,    // 25 Reserved2
};

const SlotBytes kStreamSlot = {
    0xC0,                                           //  0 EntryType: Stream Extension
    0x03,                                           //  1 GeneralSecondaryFlags: AllocationPossible, NoFatChain
    0x00,                                           //  2 Reserved1
    0x14,                                           //  3 NameLength 20
    0xCD, 0xAB,                                     //  4 NameHash
    0x00, 0x00,                                     //  6 Reserved2
    0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, //  8 ValidDataLength 4 GiB
    0x00, 0x00, 0x00, 0x00,                         // 16 Reserved3
    0x09, 0x00, 0x00, 0x00,                         // 20 FirstCluster 9
    0x01, 0x10, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, // 24 DataLength 4 GiB + 4097
};

const SlotBytes kNameSlot = {
    0xC1, 0x00,                                     // EntryType: File Name; GeneralSecondaryFlags
    'C', 0, 'L', 0, 'I', 0, 'P', 0, '0', 0, '0', 0, // FileName: 15 UTF-16 units
    '0', 0, '1', 0, '.', 0, 'M', 0, 'T', 0, 'S', 0,
    0x00, 0xD8, '/', 0, 0, 0,                       // a lone surrogate, a slash, a NUL
};

template <class Record>
void ReadSlot(Record& record, const SlotBytes& slot) {
    AAA::MemoryStream stream(slot.data(), slot.size());
    AAA::BitReader reader(stream);
    record.ReadEntryType(reader);
    record.ReadBody(reader);
    EXPECT_EQ(reader.BitsConsumed(), 256u) << "every layout is exactly 32 bytes";
}

TEST(ExFatDirectoryEntryRecord, FileEntryFields) {
    FileDirectoryEntry file;
    ReadSlot(file, kFileSlot);
    EXPECT_EQ(file.name, "FileDirectoryEntry");
    EXPECT_EQ(file.SecondaryCount.Value(), 3u);
    EXPECT_EQ(file.SetChecksum.Value(), 0x1234u);
    EXPECT_EQ(file.FileAttributes.Value(), 0x10u);
    EXPECT_EQ(file.CreateTimestamp.Value(), 0x87654321u);
    EXPECT_EQ(file.Create10msIncrement.Value(), 0x63u);
    EXPECT_EQ(file.FirstCluster.Value(), 0u) << "not in the File layout";
    EXPECT_EQ(file.DataLength.Value64(), 0u);
    EXPECT_EQ(file.NameLength.Value(), 0u);
    EXPECT_TRUE(file.IsValid());
    EXPECT_FALSE(file.IsDotEntry());
    EXPECT_FALSE(file.IsDotDotEntry());
}

TEST(ExFatDirectoryEntryRecord, StreamExtensionKeepsSixtyFourBitLengths) {
    StreamExtensionDirectoryEntry stream;
    ReadSlot(stream, kStreamSlot);
    EXPECT_EQ(stream.GeneralSecondaryFlags.Value() & kFlagNoFatChain, kFlagNoFatChain);
    EXPECT_EQ(stream.NameLength.Value(), 20u);
    EXPECT_EQ(stream.NameHash.Value(), 0xABCDu);
    EXPECT_EQ(stream.ValidDataLength.Value64(), 1ull << 32);
    EXPECT_EQ(stream.FirstCluster.Value(), 9u);
    EXPECT_EQ(stream.DataLength.Value64(), (1ull << 32) + 4097);
    EXPECT_EQ(stream.SecondaryCount.Value(), 0u) << "secondaries have no count";

    SlotBytes twin = kStreamSlot;
    twin[1] = 0x01; // AllocationPossible only
    ReadSlot(stream, twin);
    EXPECT_EQ(stream.GeneralSecondaryFlags.Value() & kFlagNoFatChain, 0u);
}

TEST(ExFatDirectoryEntryRecord, FileNameUnitsTravelUnchanged) {
    FileNameDirectoryEntry name;
    ReadSlot(name, kNameSlot);
    const std::u16string expected = {u'C', u'L', u'I', u'P', u'0', u'0', u'0', u'1',
                                     u'.', u'M', u'T', u'S', 0xD800, u'/', 0};
    EXPECT_EQ(name.FileName.ToWideString(), expected);
}

TEST(ExFatDirectoryEntryRecord, VolumeLabelAndGenericLayouts) {
    const SlotBytes label = {0x83, 0x03, 'C', 0, 'A', 0, 'M', 0}; // EntryType, CharacterCount, VolumeLabel...
    VolumeLabelDirectoryEntry volumeLabel;
    ReadSlot(volumeLabel, label);
    EXPECT_EQ(volumeLabel.CharacterCount.Value(), 3u);
    EXPECT_EQ(volumeLabel.VolumeLabel.ToWideString().substr(0, 3), u"CAM");
    EXPECT_EQ(volumeLabel.SecondaryCount.Value(), 0u) << "byte 1 is the character count here";

    SlotBytes unknown{};
    unknown[0] = 0xA5;                         // EntryType: no such type
    unknown[20] = 0x2A;                        // FirstCluster 42
    unknown[24] = 0x10;                        // DataLength 16
    DirectoryEntry generic;
    ReadSlot(generic, unknown);
    EXPECT_EQ(generic.name, "GenericDirectoryEntryTemplate");
    EXPECT_EQ(generic.FirstCluster.Value(), 42u);
    EXPECT_EQ(generic.DataLength.Value64(), 16u);
}

TEST(ExFatDirectoryEntryRecord, ClassFollowsTheTypeWithTheInUseBitForcedOn) {
    const std::vector<std::pair<uint8_t, std::string>> classes = {
        {0x81, "AllocationBitmapDirectoryEntry"}, {0x82, "UpCaseTableDirectoryEntry"},
        {0x83, "VolumeLabelDirectoryEntry"},      {0x85, "FileDirectoryEntry"},
        {0x05, "FileDirectoryEntry"},             {0xA0, "VolumeGUIDDirectoryEntry"},
        {0xC0, "StreamExtensionDirectoryEntry"},  {0x40, "StreamExtensionDirectoryEntry"},
        {0xC1, "FileNameDirectoryEntry"},         {0x41, "FileNameDirectoryEntry"},
        {0xE0, "VendorExtensionDirectoryEntry"},  {0xE1, "VendorAllocationDirectoryEntry"},
        {0x80, "GenericDirectoryEntryTemplate"},  {0x86, "GenericDirectoryEntryTemplate"},
    };
    for (const auto& [type, name] : classes)
        EXPECT_EQ(MakeDirectoryEntry(type)->name, name) << std::hex << int(type);
}

TEST(ExFatDirectoryEntryRecord, SlotBytesRoundTripForEveryClass) {
    for (const SlotBytes& slot : {kFileSlot, kStreamSlot, kNameSlot}) {
        auto record = MakeDirectoryEntry(slot[0]);
        ReadSlot(*record, slot);
        EXPECT_EQ(record->ToSlotBytes(), slot);
        auto loaded = MakeDirectoryEntry(slot[0]);
        loaded->LoadSlotBytes(slot);
        EXPECT_EQ(loaded->ToSlotBytes(), slot);
        EXPECT_EQ(loaded->DataLength.Value64(), record->DataLength.Value64());
        EXPECT_EQ(loaded->FileName.ToWideString(), record->FileName.ToWideString());
    }
}

TEST(ExFatDirectoryEntryRecord, OnlyABare0x80IsInvalid) {
    for (const uint8_t type : {0x80, 0x00, 0x05, 0x81, 0xFF}) {
        SlotBytes slot{};
        slot[0] = type;
        auto record = MakeDirectoryEntry(type);
        ReadSlot(*record, slot);
        EXPECT_EQ(record->IsValid(), type != 0x80) << int(type);
    }
}

// ---- Directory ------------------------------------------------------------------------------------------------

std::vector<uint8_t> Slots(std::initializer_list<SlotBytes> slots) {
    std::vector<uint8_t> bytes;
    for (const SlotBytes& slot : slots)
        bytes.insert(bytes.end(), slot.begin(), slot.end());
    return bytes;
}

SlotBytes WithType(SlotBytes slot, uint8_t type) {
    slot[0] = type;
    return slot;
}

TEST(ExFatDirectoryRecord, StoresValidSlotsUpToTheEndMark) {
    SlotBytes vendor{};
    vendor[0] = 0xE0;                 // Vendor Extension
    std::fill(vendor.begin() + 1, vendor.end(), 0x00);
    vendor[31] = 0xC1;                // a type-looking byte inside the vendor slot
    SlotBytes bare{};
    bare[0] = 0x80;
    SlotBytes trailing = kFileSlot;   // after the end mark: never read
    Directory directory;
    EXPECT_EQ(directory.NumberOfEntries.Value(), 0x10000u);
    ReadFrom(directory, Slots({kFileSlot, kStreamSlot, bare, vendor, WithType(kNameSlot, 0x41), SlotBytes{}, trailing}));
    ASSERT_EQ(directory.StoredCount(), 4u);
    EXPECT_EQ(directory.NumberOfEntries.Value(), 5u) << "slot positions up to the last stored one";
    EXPECT_EQ(directory.StoredType(0), 0x85);
    EXPECT_EQ(directory.StoredType(1), 0xC0);
    EXPECT_EQ(directory.StoredType(2), 0xE0);
    EXPECT_EQ(directory.StoredType(3), 0x41);
    EXPECT_EQ(directory.Entry(3).name, "FileNameDirectoryEntry");
    EXPECT_EQ(directory.Entry(3).FileName.ToWideString().substr(0, 4), u"CLIP");
    EXPECT_EQ(directory.Entry(1).DataLength.Value64(), (1ull << 32) + 4097);
}

TEST(ExFatDirectoryRecord, EmptyFirstSlotStoresNothing) {
    Directory directory;
    ReadFrom(directory, Slots({SlotBytes{}, kFileSlot}));
    EXPECT_EQ(directory.StoredCount(), 0u);
    EXPECT_EQ(directory.NumberOfEntries.Value(), 0u);
}

TEST(ExFatDirectoryRecord, TrailingBareSlotsDoNotCountTowardsTheEntries) {
    SlotBytes bare{};
    bare[0] = 0x80;
    SubDirectory directory;
    ReadFrom(directory, Slots({kFileSlot, bare, bare, SlotBytes{}}));
    EXPECT_EQ(directory.StoredCount(), 1u);
    EXPECT_EQ(directory.NumberOfEntries.Value(), 1u);
}

TEST(ExFatDirectoryRecord, ReadLimitStopsWithoutAnEndMark) {
    Directory directory;
    directory.NumberOfEntries.SetValue(2);
    ReadFrom(directory, Slots({kFileSlot, kStreamSlot, kNameSlot}));
    EXPECT_EQ(directory.StoredCount(), 2u);
}

TEST(ExFatDirectoryRecord, RunningOffTheMediumIsAnEndOfMedium) {
    Directory directory;
    EXPECT_THROW(ReadFrom(directory, Slots({kFileSlot, kStreamSlot})), AAA::UnexpectedEofException);
}

} // namespace
