// The FAT12/16 reader on image files: geometry and FAT type, table copy,
// chains, the walk of live and deleted entries, and damaged volumes.
#include <gtest/gtest.h>

#include <filesystem>

#include "AAA_Exceptions.h"
#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT16.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using namespace FSAccessLib::FAT1216;
using namespace FatReaderTest;
using TestSupport::FatImage;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

namespace {

class FAT1216ReaderTest : public ::testing::Test {
protected:
    std::filesystem::path Write(const FatImage& image) { return Write(image.Bytes()); }
    std::filesystem::path Write(const Bytes& bytes) {
        const auto file = dir_ / ("card" + std::to_string(++files_) + ".img");
        TestSupport::WriteFileBytes(file, std::string(bytes.begin(), bytes.end()));
        return file;
    }
    TestSupport::TempDir dir_{"fat1216-reader"};
    FSAccessTest::ProgressReset progressReset_;
    int files_ = 0;
};

// A volume made by hand: one reserved sector, 12 sectors per table, the
// 32-sector root, one sector per cluster; `clusters` data clusters. The text
// says FAT16 while the count may make it FAT12.
struct HandVolume {
    explicit HandVolume(uint32_t clusters) : totalSectors(57 + clusters) {
        bytes = Fat1216BootSector(totalSectors, 1, 1, 12, "FAT16   ");
        bytes.resize(uint64_t{totalSectors} * 512, 0);
    }
    static constexpr uint64_t kFat = 512, kRoot = 512 + 2 * 12 * 512, kData = kRoot + 32 * 512;
    // FAT12 entry in both copies.
    void SetFat12(uint32_t cluster, uint32_t value) {
        for (uint64_t copy : {kFat, kFat + 12 * 512}) {
            const uint64_t at = copy + cluster * 3 / 2;
            if (cluster % 2 == 0) {
                bytes[at] = static_cast<uint8_t>(value);
                bytes[at + 1] = static_cast<uint8_t>((bytes[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
            } else {
                bytes[at] = static_cast<uint8_t>((bytes[at] & 0x0F) | ((value & 0x0F) << 4));
                bytes[at + 1] = static_cast<uint8_t>(value >> 4);
            }
        }
    }
    void SetRootSlot(int index, const Bytes& slot) {
        std::copy(slot.begin(), slot.end(), bytes.begin() + static_cast<std::ptrdiff_t>(kRoot + index * 32));
    }
    uint32_t totalSectors;
    Bytes bytes;
};

// ---- Open, geometry, FAT type -------------------------------------------------------

TEST_F(FAT1216ReaderTest, OpenDerivesTheBuildersGeometryAndLogsIt) {
    const FatImage image = FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat16)).Build();
    const auto& l = image.Layout();
    FSAccessFAT1216 reader(PathOf(Write(image)));
    FSAccessTest::LogCapture log;
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.sectorSize, 512u);
    EXPECT_EQ(reader.clusterSize, l.clusterSize);
    EXPECT_EQ(reader.fatSize, l.fatBytes);
    EXPECT_EQ(reader.totalBytes, image.Bytes().size());
    EXPECT_EQ(reader.startOfFat, l.fatOffset);
    EXPECT_EQ(reader.startOfRootDir, l.rootDirOffset);
    EXPECT_EQ(reader.startOfDataArea, l.dataOffset);
    EXPECT_EQ(reader.rootEntryCount, 512u);
    EXPECT_EQ(reader.fatType, 2);
    const std::string text = log.Text();
    EXPECT_NE(text.find("    fatSize         = " + std::to_string(l.fatBytes) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("    startofRootDir  = 0x"), std::string::npos);
    EXPECT_EQ(text.find("startOfFSInfo"), std::string::npos);
}

TEST_F(FAT1216ReaderTest, OpenRefusesFat32AndDamagedSectorsButNotShortFiles) {
    FSAccessFAT1216 fat32(PathOf(Write(FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat32)).Build())));
    EXPECT_FALSE(fat32.Open());

    FatImage broken = FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat12)).Build();
    broken.BreakBootSignature();
    FSAccessFAT1216 unsigned12(PathOf(Write(broken)));
    EXPECT_FALSE(unsigned12.Open());

    FSAccessFAT1216 tiny(PathOf(Write(Bytes(200, 0))));
    EXPECT_THROW(tiny.Open(), AAA::UnexpectedEofException);
}

TEST_F(FAT1216ReaderTest, ClusterCountDecidesTheTableWidthWhateverTheText) {
    HandVolume fat12(4084);
    FSAccessFAT1216 small(PathOf(Write(fat12.bytes)));
    ASSERT_TRUE(small.Open());
    EXPECT_EQ(small.fatType, 1);
    small.ReadAllocationTable();
    EXPECT_EQ(&small.Table(), &small.fat12);
    EXPECT_EQ(small.fat12.Entry.size(), 12u * 512 * 2 / 3);
    EXPECT_EQ(small.fat16.Entry.size(), 0u) << "only the chosen table is sized";
    EXPECT_EQ(small.fat12.clusterLimit, 4084u + 57);

    HandVolume fat16(4085);
    FSAccessFAT1216 large(PathOf(Write(fat16.bytes)));
    ASSERT_TRUE(large.Open());
    EXPECT_EQ(large.fatType, 0);
    large.ReadAllocationTable();
    EXPECT_EQ(&large.Table(), &large.fat16);
    EXPECT_EQ(large.fat16.Entry.size(), 12u * 512 / 2);
    EXPECT_EQ(large.fat12.Entry.size(), 0u);
}

// ---- Chains on FAT12 --------------------------------------------------------------------

TEST_F(FAT1216ReaderTest, Fat12EndOfChainEndsTheWalkBelowALargerClusterLimit) {
    HandVolume volume(4084); // clusterLimit 4141 lies above 0xFF8..0xFFF
    volume.SetFat12(10, 11);
    volume.SetFat12(11, 0xFFF);
    volume.SetFat12(20, 0);
    volume.SetFat12(30, 31);
    volume.SetFat12(31, 30); // a loop
    volume.SetRootSlot(0, Slot("CLIP    MTS", 0x20, 10, 700));
    volume.SetRootSlot(1, Slot("CUT     MTS", 0x20, 20, 1500));
    volume.SetRootSlot(2, Slot("LOOP    MTS", 0x20, 30, 900));
    const Bytes data = Pattern(700, 7);
    std::copy(data.begin(), data.end(), volume.bytes.begin() + static_cast<std::ptrdiff_t>(HandVolume::kData + 8 * 512));

    FSAccessFAT1216 reader(PathOf(Write(volume.bytes)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 3);
    const auto tree = Flatten(root);

    const DirEntry& clip = *tree.at("CLIP.MTS");
    ASSERT_EQ(clip.chain.size(), 1u);
    EXPECT_EQ(clip.chain[0].start, reader.ClusterToOffset(10));
    EXPECT_EQ(clip.chain[0].length, 700u);
    EXPECT_FALSE(clip.chainBroken);
    EXPECT_EQ(DataOf(volume.bytes, clip), data);

    const DirEntry& cut = *tree.at("CUT.MTS");
    ASSERT_EQ(cut.chain.size(), 1u);
    EXPECT_EQ(cut.chain[0].length, 1500u);
    EXPECT_TRUE(cut.chainBroken);

    const DirEntry& loop = *tree.at("LOOP.MTS");
    EXPECT_TRUE(loop.chainBroken);
    EXPECT_EQ(ChainTotal(loop), 900u);
}

// ---- FAT16 copy, tree, deleted entries -----------------------------------------------------

TEST_F(FAT1216ReaderTest, Fat16EntryOneChoosesTheTableCopy) {
    for (const uint32_t entry1 : {0xFFFFu, 0x7FFFu, 0xBFFFu}) {
        FatImage image = FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat16)).Build();
        image.SetFatEntryInCopy(0, 1, entry1);
        image.SetFatEntryInCopy(0, 50, 0x1111);
        image.SetFatEntryInCopy(1, 50, 0x2222);
        FSAccessFAT1216 reader(PathOf(Write(image)));
        ASSERT_TRUE(reader.Open());
        FSAccessTest::LogCapture log;
        reader.ReadAllocationTable();
        EXPECT_EQ(reader.fat16.Entry.Value(50), entry1 == 0xFFFFu ? 0x1111u : 0x2222u) << std::hex << entry1;
        EXPECT_EQ(log.Count("FileAllocationTable16.Entry"), 0u) << "the table is read quietly";
    }
}

TEST_F(FAT1216ReaderTest, TreeHoldsShortNamesLiveAndDeletedWithTheirBytes) {
    for (const FatType type : {FatType::Fat12, FatType::Fat16}) {
        FatImageBuilder builder(FatVolumeOptions::Defaults(type));
        const Bytes clip = Pattern(9000, 1), gone = Pattern(5000, 2);
        builder.AddFile("AVCHD/BDMV/STREAM/00001.MTS", clip, {.clusters = {20, 21, 40, 22, 60}});
        builder.AddFile("ABC.TXT", gone, {.clusters = {7, 8, 9}});
        builder.DeleteEntry("ABC.TXT");
        builder.AddFile("Mixed Case.txt", "lfn");
        FatImage image = builder.Build();
        FSAccessFAT1216 reader(PathOf(Write(image)));
        DirEntry root;
        EXPECT_EQ(ReadWholeVolume(reader, root), 3);
        const auto tree = Flatten(root);
        const std::vector<std::string> paths = PathsOf(tree);
        EXPECT_EQ(paths, (std::vector<std::string>{"!BC.TXT", "AVCHD", "AVCHD/BDMV", "AVCHD/BDMV/STREAM",
                                                   "AVCHD/BDMV/STREAM/00001.MTS", "MIXEDC~1.TXT"}));
        const DirEntry& stream = *tree.at("AVCHD/BDMV/STREAM/00001.MTS");
        EXPECT_EQ(stream.chain.size(), 4u);
        EXPECT_EQ(DataOf(image.Bytes(), stream), clip);
        const DirEntry& deleted = *tree.at("!BC.TXT");
        EXPECT_TRUE(deleted.deleted);
        EXPECT_EQ(deleted.start, reader.ClusterToOffset(7));
        EXPECT_EQ(deleted.length, 5000u);
        EXPECT_TRUE(deleted.chain.empty());
        EXPECT_EQ(DataOf(image.Bytes(), deleted), gone);
    }
}

TEST_F(FAT1216ReaderTest, RootSkipsInvalidSlotsAndStopsAtTheEndMarker) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    builder.AddFile("ONE.TXT", "1");
    TestSupport::FatEntryOptions badDate;
    badDate.modified.month = 13;
    builder.AddFile("ABC.TXT", "bad date", badDate);
    builder.AddFile("HUGE.BIN", "x", {.sizeField = 0x7FFFFFFFu});
    builder.AddFile("TWO.TXT", "2");
    builder.AddRawSlot("", std::array<uint8_t, 32>{}); // 0x00: the end
    builder.AddFile("LATE.TXT", "never read");
    builder.AddFile("DCIM/IMG.JPG", "jpg");
    FatImage image = builder.Build();
    FSAccessFAT1216 reader(PathOf(Write(image)));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    {
        FSAccessTest::LogCapture log;
        reader.ReadRootDirectory();
        EXPECT_EQ(log.Count("DirectoryEntry1216.Name"), 0u) << "the root is read quietly";
    }
    DirEntry root;
    reader.BuildTree(root);
    const auto tree = Flatten(root);
    const std::vector<std::string> paths = PathsOf(tree);
    EXPECT_EQ(paths, (std::vector<std::string>{"ONE.TXT", "TWO.TXT"})) << "label, bad date, too long, after the end";
}

TEST_F(FAT1216ReaderTest, FolderWhoseClusterHoldsOtherDataHasNoChildren) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat12));
    builder.AddFile("DCIM/A.JPG", "a");
    FatImage image = builder.Build();
    image.WriteRaw(image.Layout().ClusterOffset(image.Entry("DCIM").firstCluster), {0xFF, 0xD8, 0xFF, 0xE1});
    FSAccessFAT1216 reader(PathOf(Write(image)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 0);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_TRUE(root.children[0].isDirectory);
    EXPECT_TRUE(root.children[0].children.empty());
}

TEST_F(FAT1216ReaderTest, SelfContainingFolderIsWalkedOnce) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    builder.AddFile("A/FILE.TXT", "data");
    FatImage image = builder.Build();
    const uint32_t a = image.Entry("A").firstCluster;
    image.WriteRaw(image.Layout().ClusterOffset(a) + 3 * 32, Slot("SELF       ", 0x10, a, 0));
    FSAccessFAT1216 reader(PathOf(Write(image)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 1);
    const auto tree = Flatten(root);
    EXPECT_TRUE(tree.at("A/SELF")->children.empty());
}

TEST_F(FAT1216ReaderTest, FoundDirectoryAddsOnlyUnknownFiles) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
    builder.AddFile("DCIM/100CDPFP/IMGA0001.JPG", Pattern(3000, 3));
    FatImage image = builder.Build();
    const uint64_t offset = image.Layout().ClusterOffset(image.Entry("DCIM/100CDPFP").firstCluster);
    FSAccessFAT1216 reader(PathOf(Write(image)));
    DirEntry root;
    ReadWholeVolume(reader, root);
    uint64_t size = 0;
    EXPECT_EQ(reader.AddFoundDirectory(root, offset, size), 0) << "the walk read this folder";

    FSAccessFAT1216 unwalked(PathOf(Write(image)));
    ASSERT_TRUE(unwalked.Open());
    unwalked.ReadAllocationTable();
    DirEntry fresh;
    EXPECT_EQ(unwalked.AddFoundDirectory(fresh, offset, size), 1);
    EXPECT_EQ(size, 3u * 32);
    ASSERT_EQ(fresh.children.size(), 1u);
    EXPECT_EQ(Narrow(fresh.children[0].name), std::to_string(offset / 512) + ".dir");
}

// ---- Damaged and hostile volumes ------------------------------------------------------------

TEST_F(FAT1216ReaderTest, ClaimsBeyondTheDeviceEndInUnexpectedEndWithoutAllocating) {
    // A 2 MiB FAT12 volume claiming 65535 sectors per table (64 MiB).
    FatImage bigTable = FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat12)).Build();
    PutLe(bigTable.MutableBytes(), 22, 0xFFFF, 2);
    FSAccessFAT1216 reader(PathOf(Write(bigTable)));
    ASSERT_TRUE(reader.Open());
    FSAccessTest::LogCapture log;
    EXPECT_THROW(reader.ReadAllocationTable(), AAA::UnexpectedEofException);
    EXPECT_EQ(reader.fat12.Entry.size() + reader.fat16.Entry.size(), 0u);
    EXPECT_NE(log.Text().find("FSAccessLib/FSSpecFAT16("), std::string::npos);

    FatImage reserved = FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat12)).Build();
    PutLe(reserved.MutableBytes(), 14, 0xFFFF, 2); // ReservedSectorCount: tables at 32 MiB
    FSAccessFAT1216 far(PathOf(Write(reserved)));
    ASSERT_TRUE(far.Open());
    EXPECT_THROW(far.ReadAllocationTable(), AAA::UnexpectedEofException);
}

TEST_F(FAT1216ReaderTest, SubDirectoryRunningOffTheDeviceIsReadUpToItsEnd) {
    HandVolume volume(100);
    volume.SetRootSlot(0, Slot("EDGE       ", 0x10, 100 + 1, 0)); // the last cluster
    const Bytes dot = Slot(".          ", 0x10, 101, 0), dotdot = Slot("..         ", 0x10, 0, 0);
    const uint64_t last = HandVolume::kData + 99 * 512;
    std::copy(dot.begin(), dot.end(), volume.bytes.begin() + static_cast<std::ptrdiff_t>(last));
    for (int i = 1; i < 16; ++i) {
        const Bytes& slot = i == 1 ? dotdot : Slot("FILLER  TXT", 0x20, 0, 0);
        std::copy(slot.begin(), slot.end(), volume.bytes.begin() + static_cast<std::ptrdiff_t>(last + i * 32));
    }
    FSAccessFAT1216 reader(PathOf(Write(volume.bytes)));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    reader.ReadRootDirectory();
    DirEntry root;
    reader.BuildTree(root);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(root.children[0].children.size(), 14u) << "every slot before the end";
    EXPECT_EQ(reader.foldersPastEnd, 1);
}

} // namespace
