// FAT32 records read from memory: each good byte vector sits beside twins
// that differ in one field.
#include <gtest/gtest.h>

#include <random>

#include "AAA_Exceptions.h"
#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT32.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib::FAT32;
using namespace FatReaderTest;

namespace {

// A 64 MiB FAT32 boot sector, field by field.
Bytes GoodBootSector() {
    Bytes b;
    Le(b, 0x9058EB, 3);          // 0   JumpCommand EB 58 90
    Raw(b, "mkfs.fat");          // 3   CreatingSystemIdentifier
    Le(b, 512, 2);               // 11  SectorSize
    Le(b, 1, 1);                 // 13  SectorsPerCluster
    Le(b, 32, 2);                // 14  ReservedSectorCount
    Le(b, 2, 1);                 // 16  NumberOfFATs
    Le(b, 0, 2);                 // 17  NumberOfRootDirectoryEntries
    Le(b, 0, 2);                 // 19  TotalSectors1
    Le(b, 0xF8, 1);              // 21  MediumIdentifier
    Le(b, 0, 2);                 // 22  SectorsPerFAT
    Le(b, 32, 2);                // 24  SectorsPerTrack
    Le(b, 8, 2);                 // 26  NumberOfSides
    Le(b, 0, 4);                 // 28  NumberOfHiddenSectors
    Le(b, 131072, 4);            // 32  TotalSectors2
    Le(b, 1016, 4);              // 36  SectorsPerFAT32
    Le(b, 0x0081, 2);            // 40  ExtensionFlag: active FAT 1, only one active
    Le(b, 0, 2);                 // 42  FsVersion
    Le(b, 2, 4);                 // 44  RootCluster
    Le(b, 1, 2);                 // 48  FsInfo
    Le(b, 6, 2);                 // 50  BackupBootSector
    Fill(b, 12);                 // 52  Reserved1
    Le(b, 0x80, 1);              // 64  PhysicalDiskNumber
    Le(b, 0, 1);                 // 65  Reserved2
    Le(b, 0x29, 1);              // 66  ExtendedBootRecordSignature
    Le(b, 0x12345678, 4);        // 67  VolumeIDNumber
    Raw(b, "KALVORY    ");       // 71  VolumeLabel
    Raw(b, "FAT32   ");          // 82  FileSystemType
    Fill(b, 420);                // 90  ReservedForSystemUse
    b.push_back(0x55);           // 510 SignatureWord
    b.push_back(0xAA);
    return b;
}

Bytes GoodFsInfo() {
    Bytes b;
    Raw(b, "RRaA");              // 0   LeadSignature
    Fill(b, 480);                // 4   Reserved1
    Raw(b, "rrAa");              // 484 StructureSignature
    Le(b, 1000, 4);              // 488 FreeClusterCount
    Le(b, 3, 4);                 // 492 NextFreeCluster
    Fill(b, 12);                 // 496 Reserved2
    Le(b, 0xAA550000, 4);        // 508 TrailSignature 00 00 55 AA
    return b;
}

// Reads and checks a boot sector; "" when it passes, else the log of the failure.
std::string BootCheckFailure(const Bytes& bytes) {
    FSAccessTest::LogCapture log;
    PartitionBootSector sector;
    ReadFrom(sector, bytes);
    AAA::LogThreshold = 7; // the report lines only, not the field dumps
    try {
        sector.Check();
    } catch (const AAA::InvalidDataException&) {
        return log.Text();
    }
    return "";
}

TEST(FAT32BootSector, GoodSectorPassesAndFieldsLandWhereTheLayoutSays) {
    const Bytes good = GoodBootSector();
    ASSERT_EQ(good.size(), 512u);
    PartitionBootSector sector;
    ReadFrom(sector, good);
    EXPECT_EQ(sector.BitLength(), 512 * 8);
    EXPECT_EQ(sector.SectorSize.Value(), 512u);
    EXPECT_EQ(sector.TotalSectors2.Value(), 131072u);
    EXPECT_EQ(sector.SectorsPerFAT32.Value(), 1016u);
    EXPECT_EQ(sector.RootCluster.Value(), 2u);
    EXPECT_EQ(sector.VolumeIDNumber.Value(), 0x12345678u);
    EXPECT_EQ(sector.FileSystemType.ToString(), "FAT32   ");
    EXPECT_EQ(sector.Extension.NumberOfActiveFAT.Value(), 1u);
    EXPECT_EQ(sector.Extension.Only1FATisActive.Value(), 1u);
    EXPECT_EQ(sector.Extension.Reserved2.Value(), 0u);
    EXPECT_EQ(sector.Extension.NumberOfActiveFAT.FullName(), "PartitionBootSector.NumberOfActiveFAT");
    EXPECT_EQ(BootCheckFailure(good), "");
}

struct BootTwin {
    const char* what;
    size_t offset;
    uint64_t value;
    int width;
    const char* field; // named in the failure report
};

class FAT32BootSectorTwin : public ::testing::TestWithParam<BootTwin> {};

TEST_P(FAT32BootSectorTwin, OneChangedFieldFailsWithItsReport) {
    const BootTwin twin = GetParam();
    Bytes bad = GoodBootSector();
    PutLe(bad, twin.offset, twin.value, twin.width);
    const std::string log = BootCheckFailure(bad);
    ASSERT_NE(log, "") << twin.what;
    EXPECT_NE(log.find("FSAccessLib/FSSpecFAT32("), std::string::npos) << log;
    EXPECT_NE(log.find(std::string("Name: PartitionBootSector.") + twin.field), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(
    FAT32Fields, FAT32BootSectorTwin,
    ::testing::Values(BootTwin{"sector size 4096", 11, 4096, 2, "SectorSize"},
                      BootTwin{"one FAT", 16, 1, 1, "NumberOfFATs"},
                      BootTwin{"root entries (a FAT16 volume)", 17, 512, 2, "NumberOfRootDirectoryEntries"},
                      BootTwin{"16-bit total", 19, 60000, 2, "TotalSectors1"},
                      BootTwin{"16-bit FAT size", 22, 200, 2, "SectorsPerFAT"},
                      BootTwin{"one sector", 32, 1, 4, "TotalSectors2"},
                      BootTwin{"version 1", 42, 1, 2, "FsVersion"},
                      BootTwin{"FSInfo in sector 2", 48, 2, 2, "FsInfo"},
                      BootTwin{"no backup", 50, 0, 2, "BackupBootSector"},
                      BootTwin{"old signature 0x28", 66, 0x28, 1, "ExtendedBootRecordSignature"},
                      BootTwin{"FAT16 text", 82, 0x2020203631544146ull, 8, "FileSystemType"},
                      BootTwin{"no 55AA", 510, 0, 2, "SignatureWord"}));

TEST(FAT32BootSector, SectorSizeReportShowsExpectedAndActualBytes) {
    Bytes bad = GoodBootSector();
    PutLe(bad, 11, 1024, 2);
    const std::string log = BootCheckFailure(bad);
    EXPECT_NE(log.find("  Expected: 0x0200 \"512\" (512U)\n"), std::string::npos) << log;
    EXPECT_NE(log.find("    Actual: 0x0400 \"1024\"\n"), std::string::npos) << log;
}

TEST(FAT32BootSector, TotalSectorsRangeIsUnsignedAndScaledByClusterSize) {
    Bytes twoSectors = GoodBootSector();
    PutLe(twoSectors, 32, 2, 4);
    EXPECT_EQ(BootCheckFailure(twoSectors), "") << "2 is the lower bound";

    Bytes noCluster = GoodBootSector();
    PutLe(noCluster, 13, 0, 1); // SectorsPerCluster 0: the upper bound is 0
    const std::string log = BootCheckFailure(noCluster);
    EXPECT_NE(log.find("Expected: true (\"(2 <= TotalSectors2) && (TotalSectors2 <= (0x0FFFFFF6 * "
                       "SectorsPerCluster))\")"),
              std::string::npos)
        << log;

    Bytes largest = GoodBootSector();
    PutLe(largest, 32, 0x0FFFFFF6, 4); // exactly 0x0FFFFFF6 x 1
    EXPECT_EQ(BootCheckFailure(largest), "");
    PutLe(largest, 32, 0x0FFFFFF7, 4);
    EXPECT_NE(BootCheckFailure(largest), "");

    // With 32 sectors per cluster the product wraps to 0xFFFFFEC0.
    Bytes wrapped = GoodBootSector();
    PutLe(wrapped, 13, 32, 1);
    PutLe(wrapped, 32, 0xFFFFFEC0, 4);
    EXPECT_EQ(BootCheckFailure(wrapped), "");
    PutLe(wrapped, 32, 0xFFFFFEC1, 4);
    EXPECT_NE(BootCheckFailure(wrapped), "");
}

TEST(FAT32BootSector, ShortSectorRaisesUnexpectedEnd) {
    Bytes half = GoodBootSector();
    half.resize(300);
    PartitionBootSector sector;
    EXPECT_THROW(ReadFrom(sector, half), AAA::UnexpectedEofException);
}

TEST(FAT32FsInfo, SignaturesAreCheckedInOrder) {
    FsInfo good;
    ReadFrom(good, GoodFsInfo());
    EXPECT_NO_THROW(good.Check());
    EXPECT_EQ(good.FreeClusterCount.Value(), 1000u);

    for (size_t offset : {size_t{0}, size_t{484}, size_t{510}}) {
        Bytes bad = GoodFsInfo();
        bad[offset] ^= 0x01;
        FsInfo record;
        ReadFrom(record, bad);
        EXPECT_THROW(record.Check(), AAA::InvalidDataException) << "byte " << offset;
    }
}

TEST(FAT32AllocationTable, EntriesKeepAllThirtyTwoBitsAndCostFourBytesEach) {
    Bytes bytes;
    Le(bytes, 0x0FFFFFF8, 4);   // entry 0: media
    Le(bytes, 0xFFFFFFFF, 4);   // entry 1: clean, no error
    Le(bytes, 0xF0000003, 4);   // entry 2: reserved top bits set
    Le(bytes, 0x0FFFFFFF, 4);   // entry 3: end of chain
    FileAllocationTable table;
    table.NumberOfEntries.SetValue(4);
    ASSERT_EQ(table.Entry.size(), 4u);
    ReadFrom(table, bytes);
    EXPECT_EQ(table.Entry.Value(2), 0xF0000003u);
    EXPECT_EQ(table.Entry.Value(3), 0x0FFFFFFFu);
    EXPECT_EQ(table.Entry.Entry(2).FullName(), "FileAllocationTable.Entry");

    FileAllocationTable big;
    big.NumberOfEntries.SetValue(1u << 20);
    EXPECT_LE(big.MemoryBytes(), (4u << 20) + 64);
}

TEST(FAT32DirectoryEntry, ValidityRulesOnAGoodSlotAndItsTwins) {
    const Bytes good = Slot("MOV001  MOD", 0x20, 0x00012345, 100000);
    DirectoryEntry32 entry;
    ReadFrom(entry, good);
    EXPECT_TRUE(entry.IsValid());
    EXPECT_EQ(entry.StartingClusterNumberHigh.Value(), 1u);
    EXPECT_EQ(entry.StartingClusterNumberLow.Value(), 0x2345u);
    EXPECT_EQ(entry.FileLength.Value(), 100000u);
    EXPECT_EQ(entry.BitLength(), 256);

    struct Twin {
        const char* what;
        size_t offset;
        uint64_t value;
        int width;
        bool valid;
    };
    for (const Twin& twin : {Twin{"deleted", 0, 0xE5, 1, true},
                             Twin{"blank first byte", 0, ' ', 1, false},
                             Twin{"lower-case name byte", 3, 'a', 1, false},
                             Twin{"'.' in the extension", 9, '.', 1, false},
                             Twin{"long-name slot", 11, 0x0F, 1, false},
                             Twin{"volume label", 11, 0x08, 1, false},
                             Twin{"attribute above 0x3F", 11, 0x40, 1, false},
                             Twin{"ReservedForNT set", 12, 0x08, 1, false},
                             Twin{"tenths are not checked", 13, 0xFF, 1, true},
                             Twin{"created time seconds 30", 14, 0x53DE, 2, false},
                             Twin{"created date month 13", 16, (41u << 9) | (13u << 5) | 15u, 2, false},
                             Twin{"access date day 0", 18, 0x52C0, 2, false},
                             Twin{"write time hour 24", 22, 24u << 11, 2, false},
                             Twin{"write date zero is fine", 24, 0, 2, true},
                             Twin{"write date month 0 day 5", 24, 0x5205, 2, false}}) {
        Bytes bytes = good;
        PutLe(bytes, twin.offset, twin.value, twin.width);
        DirectoryEntry32 twinEntry;
        ReadFrom(twinEntry, bytes);
        EXPECT_EQ(twinEntry.IsValid(), twin.valid) << twin.what;
    }

    DirectoryEntry32 dot, dotdot;
    ReadFrom(dot, Slot(".          ", 0x10, 5, 0));
    ReadFrom(dotdot, Slot("..         ", 0x10, 0, 0));
    EXPECT_TRUE(dot.IsValid());
    EXPECT_TRUE(dotdot.IsValid());
}

TEST(FAT32DirectoryEntry, CopiesNameThemselvesAsParent) {
    DirectoryEntry32 entry;
    ReadFrom(entry, Slot("A       TXT", 0x20, 3, 1));
    DirectoryEntry32 copy(entry);
    EXPECT_EQ(copy.StartingClusterNumberLow.parent, &copy);
    EXPECT_EQ(copy.CreatedTime.parent, &copy);
    EXPECT_EQ(copy.Name.ToString(), "A       ");
}

// Three valid slots, a long-name slot, the end marker, then a slot that must
// not be read.
Bytes ThreeEntryDirectory() {
    Bytes d;
    for (const char* name : {"A       TXT", "B       TXT", "C       TXT"}) {
        const Bytes slot = Slot(name, 0x20, 3, 10);
        d.insert(d.end(), slot.begin(), slot.end());
    }
    Bytes longName = Slot("AXXXXXXXXXX", 0x0F, 0, 0);
    d.insert(d.end(), longName.begin(), longName.end());
    Fill(d, 32);                                         // 0x00: end of directory
    const Bytes late = Slot("LATE    TXT", 0x20, 3, 10);
    d.insert(d.end(), late.begin(), late.end());
    return d;
}

TEST(FAT32Directory, StopsAtEndMarkerAndSizesUpToLastValidSlot) {
    AAA::MemoryStream stream(ThreeEntryDirectory());
    Directory32 directory;
    EXPECT_EQ(directory.NumberOfEntries.Value(), 0x10000u);
    EXPECT_EQ(ReadDirectoryAt(stream, 0, directory), 3u * 32);
    EXPECT_EQ(directory.entries.Count(), 3u);
    EXPECT_EQ(directory.NumberOfEntries.Value(), 3u);
    EXPECT_EQ(directory.entries.At(2).Name.ToString(), "C       ");

    // Without the end marker the slots behind it count, and the size reaches
    // the last valid one (index 5) across the skipped long-name slot.
    Bytes withFifth = ThreeEntryDirectory();
    const Bytes fifth = Slot("E       TXT", 0x20, 3, 10);
    std::copy(fifth.begin(), fifth.end(), withFifth.begin() + 4 * 32);
    Fill(withFifth, 32);
    AAA::MemoryStream stream5(withFifth);
    Directory32 five;
    EXPECT_EQ(ReadDirectoryAt(stream5, 0, five), 6u * 32);
    EXPECT_EQ(five.entries.Count(), 5u);
    EXPECT_EQ(five.entries.At(4).Name.ToString(), "LATE    ");
}

TEST(FAT32Directory, SubDirectoryNeedsDotAndDotDotFirst) {
    Bytes good;
    for (const Bytes& s : {Slot(".          ", 0x10, 5, 0), Slot("..         ", 0x10, 0, 0),
                           Slot("CLIP    MTS", 0x20, 6, 10)})
        good.insert(good.end(), s.begin(), s.end());
    Fill(good, 32);

    AAA::MemoryStream stream(good);
    SubDirectory32 sub;
    EXPECT_EQ(ReadDirectoryAt(stream, 0, sub), 3u * 32);
    EXPECT_EQ(sub.entries.Count(), 3u) << "dot slots are stored too";

    Bytes noDot = good;
    noDot[0] = 'X';
    AAA::MemoryStream stream2(noDot);
    SubDirectory32 sub2;
    EXPECT_EQ(ReadDirectoryAt(stream2, 0, sub2), 0u);
    EXPECT_TRUE(sub2.entries.Empty());

    Bytes noDotDot = good;
    noDotDot[33] = 'X';
    AAA::MemoryStream stream3(noDotDot);
    SubDirectory32 sub3;
    EXPECT_EQ(ReadDirectoryAt(stream3, 0, sub3), 32u) << "only the '.' slot was read";

    // The root needs no dot slots.
    AAA::MemoryStream stream4(noDot);
    Directory32 root;
    EXPECT_EQ(ReadDirectoryAt(stream4, 0, root), 3u * 32);
}

TEST(FAT32Directory, ReadLimitBoundsTheSlotsRead) {
    Bytes many;
    for (int i = 0; i < 20; ++i) {
        const Bytes s = Slot("F       TXT", 0x20, 3, 1);
        many.insert(many.end(), s.begin(), s.end());
    }
    AAA::MemoryStream stream(many);
    Directory32 directory;
    directory.NumberOfEntries.SetValue(7);
    EXPECT_EQ(ReadDirectoryAt(stream, 0, directory), 7u * 32);
    EXPECT_EQ(directory.entries.Count(), 7u);
}

TEST(FAT32Directory, DirectoryRunningOffTheEndRaisesUnexpectedEnd) {
    Bytes cut = ThreeEntryDirectory();
    cut.resize(3 * 32 + 10); // ends inside the long-name slot, before any end marker
    AAA::MemoryStream stream(cut);
    Directory32 directory;
    EXPECT_THROW(ReadDirectoryAt(stream, 0, directory), AAA::UnexpectedEofException);
}

// Random damage to every record must end in a result or one of the two data
// errors, never in anything else.
TEST(FAT32Records, RandomDamageEndsInResultOrDataError) {
    std::mt19937 random(4242);
    const Bytes boot = GoodBootSector();
    const Bytes directory = ThreeEntryDirectory();
    for (int round = 0; round < 2000; ++round) {
        Bytes b = boot, d = directory, f = GoodFsInfo();
        for (int k = 0; k < 4; ++k) {
            b[random() % b.size()] = static_cast<uint8_t>(random());
            d[random() % d.size()] = static_cast<uint8_t>(random());
            f[random() % f.size()] = static_cast<uint8_t>(random());
        }
        if (round % 7 == 0)
            d.resize(random() % d.size());
        try {
            PartitionBootSector sector;
            ReadFrom(sector, b);
            sector.Check();
        } catch (const AAA::VerifyExceptionBase&) {
        }
        try {
            FsInfo info;
            ReadFrom(info, f);
            info.Check();
        } catch (const AAA::VerifyExceptionBase&) {
        }
        try {
            AAA::MemoryStream stream(d);
            SubDirectory32 sub;
            const uint64_t size = ReadDirectoryAt(stream, 0, sub);
            EXPECT_LE(size, d.size());
        } catch (const AAA::UnexpectedEofException&) {
        }
    }
}

} // namespace
