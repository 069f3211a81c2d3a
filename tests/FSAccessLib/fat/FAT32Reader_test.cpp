// The FAT32 reader on image files: geometry, table copy, the walk of
// live and deleted entries, found directories, and damaged volumes.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "AAA_Exceptions.h"
#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT16FAT32Common.h"
#include "FSSpecFAT32.h"
#include "FSAccessLib/TreeTestHelpers.h"
#include "support/FatGeometry.h"

using namespace FSAccessLib;
using namespace FSAccessLib::FAT32;
using namespace FatReaderTest;
using TestSupport::FatImage;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

namespace {

FatVolumeOptions Fat32() {
    return FatVolumeOptions::Defaults(FatType::Fat32);
}

class FAT32ReaderTest : public ::testing::Test {
protected:
    std::filesystem::path Write(const FatImage& image) {
        const auto file = dir_ / ("card" + std::to_string(++files_) + ".img");
        image.WriteTo(file);
        return file;
    }
    TestSupport::TempDir dir_{"fat32-reader"};
    FSAccessTest::ProgressReset progressReset_;
    int files_ = 0;
};

// ---- Open and geometry ------------------------------------------------------------

TEST_F(FAT32ReaderTest, OpenDerivesTheBuildersGeometryAndLogsIt) {
    const FatImage image = FatImageBuilder(Fat32()).Build();
    const auto& l = image.Layout();
    FSAccessFAT32 reader(PathOf(Write(image)));
    FSAccessTest::LogCapture log;
    ASSERT_TRUE(reader.Open());
    EXPECT_EQ(reader.sectorSize, 512u);
    EXPECT_EQ(reader.clusterSize, l.clusterSize);
    EXPECT_EQ(reader.searchStep, 512u);
    EXPECT_EQ(reader.fatSize, l.fatBytes);
    EXPECT_EQ(reader.totalBytes, image.Bytes().size());
    EXPECT_EQ(reader.startOfFsInfo, 512u);
    EXPECT_EQ(reader.startOfFat, l.fatOffset);
    EXPECT_EQ(reader.startOfDataArea, l.dataOffset);
    EXPECT_EQ(reader.startOfRootDir, l.rootDirOffset);
    EXPECT_EQ(reader.directoryEntrySize, 32u);
    EXPECT_EQ(reader.fatType, 3);
    EXPECT_EQ(reader.stream->blockSize, 512u);

    const std::string text = log.Text();
    const size_t total = text.find("    totalBytes      = " + std::to_string(image.Bytes().size()) + "\n");
    const size_t fsInfo = text.find("    startOfFSInfo   = 0x00000200\n");
    const size_t fat = text.find("    startofFAT      = 0x0000000000004000\n");
    ASSERT_NE(total, std::string::npos) << text;
    EXPECT_LT(total, fsInfo);
    EXPECT_LT(fsInfo, fat);
}

TEST_F(FAT32ReaderTest, OpenRefusesOtherFileSystemsAndDamagedBootSectors) {
    FSAccessFAT32 fat16(PathOf(Write(FatImageBuilder(FatVolumeOptions::Defaults(FatType::Fat16)).Build())));
    EXPECT_FALSE(fat16.Open());

    FatImage broken = FatImageBuilder(Fat32()).Build();
    broken.BreakBootSignature();
    FSAccessFAT32 unsigned32(PathOf(Write(broken)));
    EXPECT_FALSE(unsigned32.Open());

    const auto tiny = dir_ / "tiny.img";
    TestSupport::WriteFileBytes(tiny, std::string(100, '\0'));
    FSAccessFAT32 shortVolume(PathOf(tiny));
    EXPECT_THROW(shortVolume.Open(), AAA::UnexpectedEofException);

    FSAccessFAT32 missing(PathOf(dir_ / "absent.img"));
    EXPECT_THROW(missing.Open(), AAA::ExceptionBase);
}

// ---- Allocation table ----------------------------------------------------------------

TEST_F(FAT32ReaderTest, EntryOneChoosesTheTableCopy) {
    for (const uint32_t entry1 : {0xFFFFFFFFu, 0x0FFFFFFFu, 0x7FFFFFFFu}) {
        FatImage image = FatImageBuilder(Fat32()).Build();
        image.SetFatEntryInCopy(0, 1, entry1);
        image.SetFatEntryInCopy(0, 100, 0x11111111);
        image.SetFatEntryInCopy(1, 100, 0x22222222);
        FSAccessFAT32 reader(PathOf(Write(image)));
        ASSERT_TRUE(reader.Open());
        reader.ReadAllocationTable();
        const bool first = entry1 == 0xFFFFFFFFu;
        EXPECT_EQ(reader.fat.Entry.Value(100), first ? 0x11111111u : 0x22222222u) << std::hex << entry1;
        EXPECT_EQ(reader.fat.Entry.size(), reader.fatSize / 4);
        EXPECT_EQ(reader.clusterLimit, 131072u);
    }
}

TEST_F(FAT32ReaderTest, TableCostsFourBytesPerEntryAndIsReadQuietly) {
    FSAccessFAT32 reader(PathOf(Write(FatImageBuilder(Fat32()).Build())));
    ASSERT_TRUE(reader.Open());
    FSAccessTest::LogCapture log;
    reader.ReadAllocationTable();
    EXPECT_LE(reader.fat.MemoryBytes(), reader.fat.Entry.size() * 4 + 64);
    EXPECT_EQ(log.Count("FileAllocationTable.Entry"), 0u);
    EXPECT_GT(log.Count("FsInfo.LeadSignature"), 0u) << "FSInfo is not part of the quiet read";
    EXPECT_EQ(AAA::LogThreshold.load(), 8) << "threshold restored";
}

TEST_F(FAT32ReaderTest, BadFsInfoSignatureRaisesInvalidData) {
    FatImage image = FatImageBuilder(Fat32()).Build();
    image.BreakFsInfoSignature();
    FSAccessFAT32 reader(PathOf(Write(image)));
    ASSERT_TRUE(reader.Open());
    EXPECT_THROW(reader.ReadAllocationTable(), AAA::InvalidDataException);
}

// ---- The walk -----------------------------------------------------------------------------

TEST_F(FAT32ReaderTest, TreeHoldsShortNamesLiveAndDeletedWithTheirBytes) {
    FatImageBuilder builder(Fat32());
    const Bytes movie = Pattern(5000, 1), photo = Pattern(1300, 2), gone = Pattern(100000, 3);
    builder.AddFile("DCIM/100CDPFP/MOV001.MOD", movie);
    builder.AddFile("DCIM/100CDPFP/long photo name.jpg", photo);
    builder.AddFile("OLD.MTS", gone);
    builder.DeleteEntry("OLD.MTS");
    builder.AddFile("FRAG.BIN", Pattern(2000, 4), {.clusters = {400, 401, 350, 900}});
    const FatImage image = builder.Build();

    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 4);
    const auto tree = Flatten(root);
    const std::vector<std::string> paths = PathsOf(tree);
    EXPECT_EQ(paths, (std::vector<std::string>{"!LD.MTS", "DCIM", "DCIM/100CDPFP", "DCIM/100CDPFP/LONGPH~1.JPG",
                                               "DCIM/100CDPFP/MOV001.MOD", "FRAG.BIN"}));

    EXPECT_EQ(DataOf(image.Bytes(), *tree.at("DCIM/100CDPFP/MOV001.MOD")), movie);
    EXPECT_EQ(DataOf(image.Bytes(), *tree.at("DCIM/100CDPFP/LONGPH~1.JPG")), photo);
    const DirEntry& frag = *tree.at("FRAG.BIN");
    EXPECT_EQ(frag.chain.size(), 3u);
    EXPECT_EQ(DataOf(image.Bytes(), frag), Pattern(2000, 4));

    const DirEntry& old = *tree.at("!LD.MTS");
    EXPECT_TRUE(old.deleted);
    EXPECT_TRUE(old.chain.empty());
    EXPECT_EQ(old.length, 100000u);
    EXPECT_EQ(old.start, reader.ClusterToOffset(image.Entries()[image.Entries().size() - 2].firstCluster));
    EXPECT_EQ(DataOf(image.Bytes(), old), gone);

    EXPECT_EQ(tree.at("DCIM/100CDPFP")->parent, tree.at("DCIM"));
    EXPECT_EQ(frag.chain[0].owner, &frag);
}

TEST_F(FAT32ReaderTest, InvalidSlotsStayOutOfTheTree) {
    FatImageBuilder builder(Fat32());
    builder.AddFile("GOOD.TXT", "good");
    TestSupport::FatEntryOptions badDate;
    badDate.modified.month = 13;
    builder.AddFile("ABC.TXT", "bad date", badDate);
    builder.AddFile("HIDDEN.TXT", "ok", {.attributes = 0x22});
    builder.AddFile("HUGE.BIN", "x", {.sizeField = 0xFFFFFFF0u}); // ends beyond the volume
    const FatImage image = builder.Build();
    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    ReadWholeVolume(reader, root);
    const auto tree = Flatten(root);
    EXPECT_EQ(tree.size(), 2u);
    EXPECT_TRUE(tree.count("GOOD.TXT"));
    EXPECT_TRUE(tree.count("HIDDEN.TXT"));
    for (size_t i = 0; i < reader.rootDirectory.entries.Count(); ++i)
        EXPECT_NE(reader.rootDirectory.entries.At(i).Attributes.Value() & 0x0F, 0x0Fu) << "no long-name slot is stored";
}

TEST_F(FAT32ReaderTest, FolderWhoseClusterHoldsOtherDataHasNoChildren) {
    FatImageBuilder builder(Fat32());
    builder.AddFile("DCIM/A.JPG", "a");
    FatImage image = builder.Build();
    const auto& folder = image.Entry("DCIM");
    image.WriteRaw(image.Layout().ClusterOffset(folder.firstCluster), {'G', 'A', 'R', 'B', 'A', 'G', 'E'});
    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 0);
    ASSERT_EQ(root.children.size(), 1u);
    EXPECT_EQ(Narrow(root.children[0].name), "DCIM");
    EXPECT_TRUE(root.children[0].children.empty());
}

TEST_F(FAT32ReaderTest, FoldersNamingTheirAncestorsDoNotRecurse) {
    FatImageBuilder builder(Fat32());
    builder.AddFile("A/B/FILE.TXT", "data");
    FatImage image = builder.Build();
    const uint32_t a = image.Entry("A").firstCluster;
    const uint32_t b = image.Entry("A/B").firstCluster;
    // B gets a live slot pointing at A, and a deleted one pointing at the root.
    Bytes slots = Slot("UP         ", 0x10, a, 0);
    Bytes toRoot = Slot("\xE5OOT       ", 0x10, image.Layout().rootCluster, 0);
    slots.insert(slots.end(), toRoot.begin(), toRoot.end());
    image.WriteRaw(image.Layout().ClusterOffset(b) + 3 * 32, slots);

    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    const int files = ReadWholeVolume(reader, root);
    const auto tree = Flatten(root);
    EXPECT_TRUE(tree.count("A/B/FILE.TXT"));
    ASSERT_TRUE(tree.count("A/B/UP"));
    EXPECT_TRUE(tree.at("A/B/UP")->children.empty()) << "A is already being walked";
    EXPECT_TRUE(tree.count("A/B/!OOT")) << "the root has no '.' slot, so it reads as empty";
    EXPECT_EQ(files, 1);
}

TEST_F(FAT32ReaderTest, DeletedFolderWhoseClusterWasReusedShowsItsNewContents) {
    FatImageBuilder builder(Fat32());
    builder.AddFile("OLD/GONE.TXT", "old");
    builder.DeleteEntry("OLD");
    builder.AddFile("NEW/KEPT.TXT", "new");
    FatImage image = builder.Build();
    // The card reused the deleted folder's cluster for NEW.
    const uint32_t newCluster = image.Entry("NEW").firstCluster;
    const TestSupport::FatEntryInfo* old = nullptr;
    for (const auto& info : image.Entries())
        if (info.path == "OLD" && info.deleted)
            old = &info;
    ASSERT_NE(old, nullptr);
    Bytes slot = Slot("\xE5LD        ", 0x10, newCluster, 0);
    image.WriteRaw(old->slotOffset, slot);
    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    ReadWholeVolume(reader, root);
    const auto tree = Flatten(root);
    EXPECT_TRUE(tree.count("!LD/KEPT.TXT"));
    EXPECT_TRUE(tree.count("NEW/KEPT.TXT")) << "the live folder is walked too";
}

TEST_F(FAT32ReaderTest, EndlessNestingStopsAtTheDepthLimit) {
    // Folders written by hand into free clusters, each holding the next.
    FatImage image = FatImageBuilder(Fat32()).Build();
    const uint32_t first = 1000, levels = FatCommon::kMaxDirectoryDepth + 20;
    for (uint32_t c = first; c < first + levels; ++c) {
        Bytes slots = Slot(".          ", 0x10, c, 0);
        for (const Bytes& s : {Slot("..         ", 0x10, c - 1, 0), Slot("D          ", 0x10, c + 1, 0)})
            slots.insert(slots.end(), s.begin(), s.end());
        image.WriteRaw(image.Layout().ClusterOffset(c), slots);
    }
    image.WriteRaw(image.Layout().ClusterOffset(first + levels), Slot(".          ", 0x10, first + levels, 0));
    image.WriteRaw(image.Layout().rootDirOffset + 32, Slot("D          ", 0x10, first, 0));
    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    ReadWholeVolume(reader, root);
    int depth = 0;
    for (const DirEntry* e = &root; !e->children.empty(); e = &e->children[0])
        ++depth;
    EXPECT_EQ(depth, FatCommon::kMaxDirectoryDepth) << "the root counts as the first level";
}

// ---- Found directories ---------------------------------------------------------------------

TEST_F(FAT32ReaderTest, FoundDirectoryIsNamedAfterItsSectorAndSkipsKnownEntries) {
    FatVolumeOptions options = Fat32();
    const auto layout = TestSupport::ComputeFatLayout(options);
    const uint32_t cluster = static_cast<uint32_t>((2097152 - layout.dataOffset) / layout.clusterSize + 2);
    FatImageBuilder builder(options);
    builder.AddFolder("LOST", {.clusters = {cluster}});
    builder.AddFile("LOST/CLIP.MTS", Pattern(3000, 9));
    builder.AddFile("LOST/EMPTY.TXT", "");
    const FatImage image = builder.Build();
    ASSERT_EQ(image.Layout().ClusterOffset(cluster), 2097152u);

    FSAccessFAT32 reader(PathOf(Write(image)));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    reader.ReadRootDirectory();

    DirEntry fresh;
    uint64_t size = 0;
    EXPECT_EQ(reader.AddFoundDirectory(fresh, 2097152, size), 1) << "the empty file is skipped";
    EXPECT_EQ(size, 4u * 32);
    ASSERT_EQ(fresh.children.size(), 1u);
    const DirEntry& found = fresh.children[0];
    EXPECT_EQ(Narrow(found.name), "4096.dir");
    EXPECT_TRUE(found.carved && found.isDirectory);
    EXPECT_EQ(found.start, 2097152u);
    EXPECT_EQ(found.length, size);
    ASSERT_EQ(found.children.size(), 1u);
    EXPECT_EQ(Narrow(found.children[0].name), "CLIP.MTS");
    EXPECT_TRUE(found.children[0].carved);
    EXPECT_TRUE(found.children[0].chain.empty());
    EXPECT_EQ(found.children[0].parent, &found);

    DirEntry walked;
    reader.BuildTree(walked);
    const size_t before = walked.children.size();
    EXPECT_EQ(reader.AddFoundDirectory(walked, 2097152, size), 0) << "every entry is already known";
    EXPECT_EQ(walked.children.size(), before);

    EXPECT_EQ(reader.AddFoundDirectory(fresh, 512, size), 0) << "FSInfo is no directory";
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(fresh.children.size(), 1u);
}

// ---- Damaged and hostile volumes ------------------------------------------------------------

// Rewrites boot-sector fields of a built image (both the sector and its backup).
void Patch(FatImage& image, size_t offset, uint64_t value, int width) {
    PutLe(image.MutableBytes(), offset, value, width);
}

TEST_F(FAT32ReaderTest, TableLargerThanTheDeviceEndsInUnexpectedEndWithoutAllocating) {
    for (const uint64_t sectorsPerFat : {uint64_t{0x00800000}, uint64_t{0x7FFFFFFF}, uint64_t{0xFFFFFFFF}}) {
        FatImage image = FatImageBuilder(Fat32()).Build();
        Patch(image, 36, sectorsPerFat, 4);
        FSAccessFAT32 reader(PathOf(Write(image)));
        ASSERT_TRUE(reader.Open());
        FSAccessTest::LogCapture log;
        EXPECT_THROW(reader.ReadAllocationTable(), AAA::UnexpectedEofException) << sectorsPerFat;
        EXPECT_EQ(reader.fat.Entry.size(), 0u);
        EXPECT_NE(log.Text().find("FSAccessLib/FSSpecFAT32("), std::string::npos);
    }
}

TEST_F(FAT32ReaderTest, TablesBeyondTheDeviceEndInUnexpectedEnd) {
    FatImage reserved = FatImageBuilder(Fat32()).Build();
    Patch(reserved, 14, 0xFFFF, 2); // the tables would start at 32 MiB and run past the end
    Patch(reserved, 36, 0xFFFF, 4);
    FSAccessFAT32 far(PathOf(Write(reserved)));
    ASSERT_TRUE(far.Open());
    EXPECT_THROW(far.ReadAllocationTable(), AAA::UnexpectedEofException);
}

TEST_F(FAT32ReaderTest, RootBeyondTheEndIsLeftUnread) {
    for (const uint32_t rootCluster : {0u, 1u, 0x0FFFFFF0u, 200000u}) {
        FatImage image = FatImageBuilder(Fat32()).Build();
        Patch(image, 44, rootCluster, 4);
        FSAccessFAT32 reader(PathOf(Write(image)));
        ASSERT_TRUE(reader.Open());
        reader.ReadAllocationTable();
        reader.ReadRootDirectory();
        EXPECT_TRUE(reader.rootDirectory.entries.Empty()) << rootCluster;
        EXPECT_EQ(reader.foldersPastEnd, 1) << rootCluster;
    }
}

TEST_F(FAT32ReaderTest, EmptyTableLeavesEveryChainBroken) {
    FatImageBuilder builder(Fat32());
    builder.AddFile("A.BIN", Pattern(3000, 5));
    FatImage image = builder.Build();
    Patch(image, 36, 0, 4); // SectorsPerFAT32 0: no table, data area right after the reserved sectors
    FSAccessFAT32 reader(PathOf(Write(image)));
    ASSERT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    EXPECT_EQ(reader.fat.Entry.size(), 0u);
    reader.ReadRootDirectory(); // whatever the reserved area holds, within bounds
    DirEntry root;
    reader.BuildTree(root);
    for (const auto& [path, entry] : Flatten(root)) {
        if (!entry->deleted && entry->firstCluster >= 2) {
            EXPECT_TRUE(entry->chainBroken) << path;
        }
    }
}

TEST_F(FAT32ReaderTest, CrossLinkedAndLoopingTableStillBuildsAFiniteTree) {
    FatImageBuilder builder(Fat32());
    for (int i = 0; i < 20; ++i)
        builder.AddFile("F" + std::to_string(i) + ".BIN", Pattern(1500, i));
    FatImage image = builder.Build();
    const uint32_t first = image.Entry("F0.BIN").firstCluster;
    for (int i = 0; i < 20; ++i) {
        const auto& info = image.Entry("F" + std::to_string(i) + ".BIN");
        image.SetFatEntry(info.clusters.back(), first); // every file loops into F0
    }
    FSAccessFAT32 reader(PathOf(Write(image)));
    DirEntry root;
    EXPECT_EQ(ReadWholeVolume(reader, root), 20);
    for (const auto& child : root.children) {
        EXPECT_TRUE(child.chainBroken) << Narrow(child.name);
        EXPECT_EQ(ChainTotal(child), 1500u) << Narrow(child.name);
    }
}

} // namespace
