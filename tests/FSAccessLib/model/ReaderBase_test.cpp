#include <gtest/gtest.h>

#include "FSAccessCommon.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;

namespace {

// A reader with fixed geometry; FirstCluster reads the test record's own field.
class FixedReader : public FSAccessBase {
public:
    FixedReader() : FSAccessBase(u"/dev/null") {}
    bool Open() override { return false; }
    void ReadAllocationTable() override {}
    void ReadRootDirectory() override {}
    int BuildTree(DirEntry&) override { return 0; }
    int AddFoundDirectory(DirEntry&, uint64_t, uint64_t&) override { return 0; }
    void BuildDataChain(DirEntry&) override {}
    uint32_t FirstCluster(AAA::Block&) override { return firstCluster; }
    uint32_t firstCluster = 0;
    using FSAccessBase::ApplyGeometry;
};

TEST(FSAccessBaseTest, ConstructionZeroesGeometry) {
    FixedReader reader;
    EXPECT_EQ(reader.devicePath, u"/dev/null");
    EXPECT_EQ(reader.fatType, 0);
    EXPECT_EQ(reader.sectorSize | reader.clusterSize | reader.fatSize | reader.searchStep | reader.rootEntryCount |
                  reader.directoryEntrySize,
              0u);
    EXPECT_EQ(reader.totalBytes | reader.volumeOffset | reader.startOfFat | reader.startOfRootDir |
                  reader.startOfDataArea,
              0u);
    EXPECT_EQ(reader.stream, nullptr);
}

TEST(FSAccessBaseTest, ClusterToOffset) {
    FixedReader reader;
    reader.clusterSize = 32768;
    reader.startOfDataArea = 0x400000;
    EXPECT_EQ(reader.ClusterToOffset(0), 0u);
    EXPECT_EQ(reader.ClusterToOffset(1), 0u);
    EXPECT_EQ(reader.ClusterToOffset(2), 0x400000u);
    EXPECT_EQ(reader.ClusterToOffset(3), 0x408000u);
    // Computed in 64 bits: no wrap at 4 GiB.
    EXPECT_EQ(reader.ClusterToOffset(0x0FFFFFF0u), uint64_t(0x0FFFFFEEu) * 32768u + 0x400000u);
}

TEST(FSAccessBaseTest, FatTypeByClusterCountBoundaries) {
    FixedReader reader;
    reader.clusterSize = 512;
    reader.startOfDataArea = 4096;
    auto typeFor = [&](uint64_t clusters) {
        reader.totalBytes = reader.startOfDataArea + clusters * reader.clusterSize + 100; // partial cluster ignored
        return reader.FatTypeByClusterCount();
    };
    EXPECT_EQ(typeFor(4084), 1);
    EXPECT_EQ(typeFor(4085), 0);
    EXPECT_EQ(typeFor(4086), 2);
    EXPECT_EQ(typeFor(65524), 2);
    EXPECT_EQ(typeFor(65525), 3);
    EXPECT_EQ(typeFor(0), 1);
    reader.clusterSize = 0;
    EXPECT_EQ(reader.FatTypeByClusterCount(), 1); // unread geometry does not divide by zero
}

TEST(FSAccessBaseTest, ApplyGeometrySetsTypeAndProgressTotal) {
    FSAccessTest::ProgressReset reset;
    FixedReader reader;
    reader.sectorSize = 512;
    reader.clusterSize = 512;
    reader.totalBytes = 512ull * 70000;
    reader.ApplyGeometry();
    EXPECT_EQ(reader.fatType, 3);
    EXPECT_EQ(Restore::ProgressTotal.load(), 512ull * 70000);
}

TEST(FSAccessBaseTest, GeometryLogLinesInOrder) {
    FixedReader reader;
    reader.sectorSize = 512;
    reader.clusterSize = 4096;
    reader.fatSize = 8192;
    reader.totalBytes = 0x100000000ull;
    reader.startOfFat = 0x200;
    reader.startOfDataArea = 0x8000;
    reader.startOfRootDir = 0x4000;
    FSAccessTest::LogCapture log;
    reader.LogGeometry();
    EXPECT_EQ(log.Text(),
              "    sectorSize      = 512\n"
              "    clusterSize     = 4096\n"
              "    fatSize         = 8192\n"
              "    totalBytes      = 4294967296\n"
              "    startofFAT      = 0x0000000000000200\n"
              "    startofDataArea = 0x0000000000008000\n"
              "    startofRootDir  = 0x0000000000004000\n");
}

TEST(DirEntryFromShortEntryTest, TakesNameFlagsClusterOffsetAndLength) {
    FixedReader reader;
    reader.clusterSize = 2048;
    reader.startOfDataArea = 0x10000;
    reader.firstCluster = 5;

    DirectoryEntryBase record("DirectoryEntry");
    const uint8_t name[] = {0xE5, 'O', 'O', ' ', ' ', ' ', ' ', ' '};
    record.Name.SetBytes(name, 8);
    record.NameExtension.SetBytes(reinterpret_cast<const uint8_t*>("JPG"), 3);
    record.Attributes.SetValue(0x20);
    record.FileLength.SetValue(0xFFFFFFFFu);

    const DirEntry file = DirEntryFromShortEntry(reader, record);
    EXPECT_EQ(file.name, u"!OO.JPG");
    EXPECT_TRUE(file.deleted);
    EXPECT_FALSE(file.isDirectory);
    EXPECT_EQ(file.firstCluster, 5u);
    EXPECT_EQ(file.start, 0x10000u + 3 * 2048);
    EXPECT_EQ(file.length, 0xFFFFFFFFull);
    EXPECT_FALSE(file.target);
    EXPECT_TRUE(file.chain.empty());

    record.Attributes.SetValue(0x30);
    reader.firstCluster = 0;
    const DirEntry folder = DirEntryFromShortEntry(reader, record);
    EXPECT_TRUE(folder.isDirectory);
    EXPECT_EQ(folder.start, 0u);
}

} // namespace
