// FAT12/16 records read from memory: each good byte vector sits beside twins
// that differ in one field.
#include <gtest/gtest.h>

#include <random>

#include "AAA_Exceptions.h"
#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT16.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib::FAT1216;
using namespace FatReaderTest;

namespace {

// A 32 MiB FAT16 boot sector, field by field.
Bytes GoodBootSector() {
    Bytes b;
    Le(b, 0x903CEB, 3);          // 0   JumpCommand EB 3C 90
    Raw(b, "MSDOS5.0");          // 3   CreatingSystemIdentifier
    Le(b, 512, 2);               // 11  SectorSize
    Le(b, 4, 1);                 // 13  SectorsPerCluster
    Le(b, 1, 2);                 // 14  ReservedSectorCount
    Le(b, 2, 1);                 // 16  NumberOfFATs
    Le(b, 512, 2);               // 17  NumberOfRootDirectoryEntries
    Le(b, 0, 2);                 // 19  TotalSectors1
    Le(b, 0xF8, 1);              // 21  MediumIdentifier
    Le(b, 64, 2);                // 22  SectorsPerFAT
    Le(b, 32, 2);                // 24  SectorsPerTrack
    Le(b, 8, 2);                 // 26  NumberOfSides
    Le(b, 0, 4);                 // 28  NumberOfHiddenSectors
    Le(b, 65536, 4);             // 32  TotalSectors2
    Le(b, 0x80, 1);              // 36  PhysicalDiskNumber
    Le(b, 0, 1);                 // 37  Reserved
    Le(b, 0x29, 1);              // 38  ExtendedBootRecordSignature
    Le(b, 0x1234ABCD, 4);        // 39  VolumeIdNumber
    Raw(b, "NO NAME    ");       // 43  VolumeLabel
    Raw(b, "FAT16   ");          // 54  FileSystemType
    Fill(b, 448);                // 62  ReservedForSystemUse
    b.push_back(0x55);           // 510 SignatureWord
    b.push_back(0xAA);
    return b;
}

// "" when the sector passes; otherwise the report lines of the failure.
std::string CheckFailure(const Bytes& bytes) {
    FSAccessTest::LogCapture log;
    ExtendedFDCDescriptor sector;
    ReadFrom(sector, bytes);
    AAA::LogThreshold = 7;
    try {
        sector.Check();
    } catch (const AAA::InvalidDataException&) {
        return log.Text();
    }
    return "";
}

Bytes With(Bytes bytes, size_t offset, uint64_t value, int width) {
    PutLe(bytes, offset, value, width);
    return bytes;
}

Bytes WithType(Bytes bytes, const std::string& text8) {
    std::copy(text8.begin(), text8.end(), bytes.begin() + 54);
    return bytes;
}

TEST(FAT1216BootSector, GoodSectorPassesAndFieldsLandWhereTheLayoutSays) {
    const Bytes good = GoodBootSector();
    ASSERT_EQ(good.size(), 512u);
    ExtendedFDCDescriptor sector;
    ReadFrom(sector, good);
    EXPECT_EQ(sector.BitLength(), 4096);
    EXPECT_EQ(sector.SectorsPerFAT.Value(), 64u);
    EXPECT_EQ(sector.TotalSectors(), 65536u);
    EXPECT_EQ(sector.VolumeIdNumber.Value(), 0x1234ABCDu);
    EXPECT_EQ(CheckFailure(good), "");
}

TEST(FAT1216BootSector, EachCheckNamesItsFieldAndLine) {
    struct Twin {
        const char* what;
        Bytes bytes;
        const char* where;
    };
    const Bytes good = GoodBootSector();
    for (const Twin& twin :
         {Twin{"sector size 1024", With(good, 11, 1024, 2), "FSAccessLib/FSSpecFAT16(103):\n      Name: "
                                                            "ExtendedFDCDescriptor.SectorSize\n"},
          Twin{"one FAT", With(good, 16, 1, 1), "(104):\n      Name: ExtendedFDCDescriptor.NumberOfFATs\n"},
          Twin{"FAT32 root count 0", With(good, 17, 0, 2),
               "(105):\n      Name: ExtendedFDCDescriptor.NumberOfRootDirectoryEntries\n"},
          Twin{"TotalSectors1 of 1", With(good, 19, 1, 2), "(111):\n      Name: ExtendedFDCDescriptor.TotalSectors1\n"},
          Twin{"too many sectors", With(good, 32, 0xFFF7u * 4, 4),
               "(118):\n      Name: ExtendedFDCDescriptor.TotalSectors2\n"},
          Twin{"signature 0x28", With(good, 38, 0x28, 1), "(122):\n"},
          Twin{"no 55AA", With(good, 510, 0, 2), "(126):\n      Name: ExtendedFDCDescriptor.SignatureWord\n"}}) {
        const std::string log = CheckFailure(twin.bytes);
        EXPECT_NE(log.find(twin.where), std::string::npos) << twin.what << "\n" << log;
    }
}

TEST(FAT1216BootSector, TotalSectorsDependOnTheFileSystemText) {
    // TotalSectors1 0, TotalSectors2 60000, one sector per cluster.
    const Bytes base = With(With(GoodBootSector(), 13, 1, 1), 32, 60000, 4);
    EXPECT_EQ(CheckFailure(base), "") << "FAT16: 60000 <= 65526";

    const std::string fat12 = CheckFailure(WithType(base, "FAT12   "));
    EXPECT_NE(fat12.find("(118):"), std::string::npos) << "FAT12: 60000 > 4086\n" << fat12;
    EXPECT_NE(fat12.find("  Expected: true (\"( (2 <= TotalSectors2) && ( (FileSystemType.Equal(\"FAT12   \") && "
                         "(TotalSectors2 <= (0x0FF6 * SectorsPerCluster))) || (FileSystemType.Equal(\"FAT16   \") "
                         "&& (TotalSectors2 <= (0xFFF6 * SectorsPerCluster))) ) )\")\n"),
              std::string::npos)
        << fat12;

    const std::string plain = CheckFailure(WithType(base, "FAT     "));
    EXPECT_NE(plain.find("(118):"), std::string::npos) << "check 4 fails first\n" << plain;

    // A small count does not help a foreign text.
    const std::string text6 = CheckFailure(WithType(With(base, 32, 3000, 4), "FAT     "));
    EXPECT_NE(text6.find("(118):"), std::string::npos) << text6;

    // TotalSectors1, when set, is the count: 2 passes the lower bound, 1 does not.
    EXPECT_EQ(CheckFailure(With(base, 19, 2, 2)), "");
    EXPECT_NE(CheckFailure(With(base, 19, 1, 2)).find("TotalSectors1 <= (0x0FF6"), std::string::npos);
    EXPECT_EQ(CheckFailure(WithType(With(base, 19, 4086, 2), "FAT12   ")), "") << "4086 x 1 is the FAT12 limit";
    EXPECT_NE(CheckFailure(WithType(With(base, 19, 4087, 2), "FAT12   ")), "");
}

TEST(FAT1216BootSector, OtherFileSystemsFailTheirFirstDifferingCheck) {
    EXPECT_NE(CheckFailure(With(GoodBootSector(), 11, 0, 2)).find("(103):"), std::string::npos)
        << "exFAT: bytes 11 and 12 are 0";
    EXPECT_NE(CheckFailure(With(GoodBootSector(), 17, 0, 2)).find("(105):"), std::string::npos)
        << "FAT32: no fixed root";
    // The count check already demands one of the two texts, so a foreign text
    // is reported there.
    EXPECT_NE(CheckFailure(WithType(GoodBootSector(), "FAT32   ")).find("(118):"), std::string::npos);
}

TEST(FAT1216AllocationTable, Fat12PairsComeBackAsTheStandardDefines) {
    Bytes bytes;
    Le(bytes, 0xFFFFF8, 3);      // entries 0, 1: media F8, FFF
    bytes.insert(bytes.end(), {0x03, 0x40, 0x00}); // entries 2 = 0x003, 3 = 0x004
    bytes.insert(bytes.end(), {0xFF, 0x8F, 0xAB}); // entries 4 = 0xFFF, 5 = 0xAB8
    FileAllocationTable12 table;
    table.NumberOfEntries.SetValue(FileAllocationTable12::EntriesFor(static_cast<uint32_t>(bytes.size())));
    ASSERT_EQ(table.Entry.size(), 6u);
    ReadFrom(table, bytes);
    EXPECT_EQ(table.Entry.Value(0), 0xFF8u);
    EXPECT_EQ(table.Entry.Value(1), 0xFFFu);
    EXPECT_EQ(table.Entry.Value(2), 0x003u);
    EXPECT_EQ(table.Entry.Value(3), 0x004u);
    EXPECT_EQ(table.Entry.Value(4), 0xFFFu);
    EXPECT_EQ(table.Entry.Value(5), 0xAB8u);
    EXPECT_TRUE(table.IsEndOfChain(0xFF8));
    EXPECT_TRUE(table.IsEndOfChain(0xFFF));
    EXPECT_FALSE(table.IsEndOfChain(0xFF7));
}

TEST(FAT1216AllocationTable, Fat12OddCountDecodesTheLastEntryFromItsByteAndAHalf) {
    // 8 bytes: 8 x 2 / 3 = 5 entries; the fifth is bytes 6 and the low half of 7.
    const Bytes bytes = {0xF8, 0xFF, 0xFF, 0x03, 0x40, 0x00, 0x34, 0xE2};
    FileAllocationTable12 table;
    table.NumberOfEntries.SetValue(FileAllocationTable12::EntriesFor(8));
    ASSERT_EQ(table.Entry.size(), 5u);
    ReadFrom(table, bytes);
    EXPECT_EQ(table.Entry.Value(3), 0x004u);
    EXPECT_EQ(table.Entry.Value(4), 0x234u);
}

TEST(FAT1216AllocationTable, Fat16EntriesAndCheckRecord) {
    Bytes bytes;
    Le(bytes, 0xFFF8, 2);
    Le(bytes, 0x7FFF, 2);
    Le(bytes, 0x0003, 2);
    Le(bytes, 0xFFFF, 2);
    FileAllocationTable16 table;
    table.NumberOfEntries.SetValue(FileAllocationTable16::EntriesFor(8));
    ReadFrom(table, bytes);
    EXPECT_EQ(table.Entry.Value(2), 3u);
    EXPECT_TRUE(table.IsEndOfChain(table.Entry.Value(3)));
    EXPECT_FALSE(table.IsEndOfChain(0xFFF7));
    EXPECT_LE(table.MemoryBytes(), 8u + 16);

    FileAllocationTable16Check check;
    ReadFrom(check, bytes);
    EXPECT_EQ(check.EntryArray1.Value(), 0x7FFFu);
}

TEST(FAT1216DirectoryEntry, ValidityRulesOnAGoodSlotAndItsTwins) {
    const Bytes good = Slot("MOV001  MOD", 0x20, 0x1234, 5000);
    DirectoryEntry1216 entry;
    ReadFrom(entry, good);
    EXPECT_TRUE(entry.IsValid());
    EXPECT_EQ(entry.StartingClusterNumber.Value(), 0x1234u);
    EXPECT_EQ(entry.BitLength(), 256);
    struct Twin {
        const char* what;
        size_t offset;
        uint64_t value;
        int width;
        bool valid;
    };
    for (const Twin& twin : {Twin{"deleted", 0, 0xE5, 1, true},
                             Twin{"'*' in the name", 2, '*', 1, false},
                             Twin{"lower-case extension", 10, 'd', 1, false},
                             Twin{"long-name slot", 11, 0x0F, 1, false},
                             Twin{"volume label", 11, 0x08, 1, false},
                             Twin{"reserved area not checked", 12, 0xFFFFFFFFFFull, 5, true},
                             Twin{"write time minutes 60", 22, 60u << 5, 2, false},
                             Twin{"write date month 13", 24, (41u << 9) | (13u << 5) | 1u, 2, false}}) {
        Bytes bytes = good;
        PutLe(bytes, twin.offset, twin.value, twin.width);
        DirectoryEntry1216 twinEntry;
        ReadFrom(twinEntry, bytes);
        EXPECT_EQ(twinEntry.IsValid(), twin.valid) << twin.what;
    }
}

TEST(FAT1216Directory, RootStopsAtTheSixthSlotsEndMarker) {
    Bytes root;
    for (int i = 0; i < 5; ++i) {
        const Bytes s = Slot("FILE" + std::to_string(i) + "   TXT", 0x20, 3, 1);
        root.insert(root.end(), s.begin(), s.end());
    }
    Fill(root, 32);
    const Bytes after = Slot("AFTER   TXT", 0x20, 3, 1);
    root.insert(root.end(), after.begin(), after.end());
    AAA::MemoryStream stream(root);
    Directory1216 directory;
    directory.NumberOfEntries.SetValue(512);
    ReadDirectoryAt(stream, 0, directory);
    EXPECT_EQ(directory.entries.Count(), 5u);
    EXPECT_EQ(directory.NumberOfEntries.Value(), 5u);
}

TEST(FAT1216Directory, SubDirectoryNeedsDotSlotsAndSizesToTheLastValidSlot) {
    Bytes sub;
    for (const Bytes& s : {Slot(".          ", 0x10, 5, 0), Slot("..         ", 0x10, 0, 0),
                           Slot("A       JPG", 0x20, 6, 1), Slot("ALONGNAMEXX", 0x0F, 0, 0)})
        sub.insert(sub.end(), s.begin(), s.end());
    Fill(sub, 32);
    AAA::MemoryStream stream(sub);
    SubDirectory1216 directory;
    EXPECT_EQ(ReadDirectoryAt(stream, 0, directory), 3u * 32);
    EXPECT_EQ(directory.entries.Count(), 3u);

    sub[32] = 'X'; // ".." damaged
    AAA::MemoryStream damaged(sub);
    SubDirectory1216 other;
    EXPECT_EQ(ReadDirectoryAt(damaged, 0, other), 32u);
}

TEST(FAT1216Records, RandomDamageEndsInResultOrDataError) {
    std::mt19937 random(1216);
    for (int round = 0; round < 2000; ++round) {
        Bytes b = GoodBootSector();
        Bytes t(30 + random() % 40);
        for (auto& byte : t)
            byte = static_cast<uint8_t>(random());
        for (int k = 0; k < 4; ++k)
            b[random() % b.size()] = static_cast<uint8_t>(random());
        try {
            ExtendedFDCDescriptor sector;
            ReadFrom(sector, b);
            sector.Check();
        } catch (const AAA::VerifyExceptionBase&) {
        }
        FileAllocationTable12 table;
        table.NumberOfEntries.SetValue(FileAllocationTable12::EntriesFor(static_cast<uint32_t>(t.size())));
        ReadFrom(table, t);
        for (size_t i = 0; i < table.Entry.size(); ++i)
            EXPECT_LE(table.Entry.Value(i), 0xFFFu);
        try {
            AAA::MemoryStream stream(t);
            SubDirectory1216 sub;
            ReadDirectoryAt(stream, 0, sub);
        } catch (const AAA::UnexpectedEofException&) {
        }
    }
}

} // namespace
