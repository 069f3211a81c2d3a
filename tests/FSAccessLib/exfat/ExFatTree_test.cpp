// The exFAT walk: entry sets, names, deleted sets, guards, large files.
#include <gtest/gtest.h>

#include <functional>

#include "AAA_Exceptions.h"
#include "ExFatReaderTestSupport.h"

// Options are filled with designated initializers; GCC before 13 flags the
// fields they leave at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace ExFatReaderTest;
using FSAccessLib::DataBlock;
using TestSupport::ExFatGeometry;
using TestSupport::ExFatImageBuilder;
using TestSupport::TempDir;

std::vector<TestSupport::ExFatExtent> Extents(const DirEntry& entry) {
    std::vector<TestSupport::ExFatExtent> extents;
    for (const DataBlock& block : entry.chain)
        extents.push_back({block.start, block.length});
    return extents;
}

uint64_t ChainTotal(const DirEntry& entry) {
    uint64_t total = 0;
    for (const DataBlock& block : entry.chain)
        total += block.length;
    return total;
}

// ---- Walk -----------------------------------------------------------------------------------------------

TEST(ExFatBuildTree, CountsFilesAndHangsFoldersUnderTheRoot) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("ONE.JPG", std::string(5000, '1'));
    image.AddFile("TWO.JPG", std::string(10, '2'));
    image.AddFile("THREE.JPG", "");
    image.AddFile("DCIM/A.MTS", std::string(9000, 'a'));
    image.AddFile("DCIM/B.MTS", std::string(100, 'b'));
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 5);
    ASSERT_EQ(tree.root.children.size(), 4u);
    const DirEntry* dcim = Child(tree.root, u"DCIM");
    ASSERT_NE(dcim, nullptr);
    EXPECT_TRUE(dcim->isDirectory);
    ASSERT_EQ(dcim->children.size(), 2u);
    for (const DirEntry& child : dcim->children)
        EXPECT_EQ(child.parent, dcim) << "relinked";
    for (const auto& info : image.Entries()) {
        SCOPED_TRACE(info.path);
        const DirEntry* entry = info.path.starts_with("DCIM/")
                                    ? Child(*dcim, AAA::FromUtf8(info.path.substr(5)))
                                    : Child(tree.root, AAA::FromUtf8(info.path));
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(entry->firstCluster, info.firstCluster);
        EXPECT_EQ(entry->start, info.firstCluster < 2 ? 0 : image.ClusterOffset(info.firstCluster));
        if (!info.isDirectory) {
            EXPECT_EQ(entry->length, info.dataLength);
            EXPECT_EQ(Extents(*entry), info.extents);
            EXPECT_EQ(entry->chainBroken, info.firstCluster == 0) << "only the empty file has no chain";
        }
        EXPECT_FALSE(entry->deleted);
    }
    const DirEntry* empty = Child(tree.root, u"THREE.JPG");
    EXPECT_TRUE(empty->chain.empty());
    EXPECT_EQ(empty->start, 0u);
}

TEST(ExFatBuildTree, LogsOneLinePerEntrySet) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("LIVE.MTS", "x", {.noFatChain = true});
    image.AddFile("GONE.MTS", "y");
    image.DeleteEntry("GONE.MTS");
    auto reader = LoadImage(image, dir);
    LogCapture log;
    DirEntry root;
    reader->BuildTree(root);
    char live[64], gone[64];
    std::snprintf(live, sizeof live, "\texFAT: %08x NoFatChain         LIVE.MTS\n", image.Describe("LIVE.MTS").firstCluster);
    std::snprintf(gone, sizeof gone, "\texFAT: %08x            deleted GONE.MTS\n", image.Describe("GONE.MTS").firstCluster);
    EXPECT_TRUE(log.Contains(live)) << log.Text();
    EXPECT_TRUE(log.Contains(gone)) << log.Text();
}

// ---- Names ----------------------------------------------------------------------------------------------

TEST(ExFatNames, LongNamesSpanSeveralFileNameEntries) {
    TempDir dir;
    ExFatImageBuilder image;
    const std::vector<std::string> names = {
        "ABCDEFGHIJKLMNO",                        // exactly one entry
        "ABCDEFGHIJKLMNOPQRST",                   // 20 units: two entries
        std::string(30, 'L'),                     // exactly two
        std::string(255, 'M'),                    // seventeen
        "Z\xC3\xA9ro \xF0\x9F\x8E\xA5 clip.mts",  // non-ASCII, a surrogate pair
    };
    for (const std::string& name : names)
        image.AddFile(name, "data");
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, static_cast<int>(names.size()));
    for (const std::string& name : names)
        EXPECT_NE(Child(tree.root, AAA::FromUtf8(name)), nullptr) << name;
}

TEST(ExFatNames, NameLengthCutsAndZeroLeavesTheSetOut) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("TWENTYCHARACTERS.MTS", "a", {.nameLength = 7});
    image.AddFile("NONAME.MTS", "b", {.nameLength = 0});
    image.AddFile("KEPT.MTS", "c");
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_NE(Child(tree.root, u"TWENTYC"), nullptr);
    EXPECT_NE(Child(tree.root, u"KEPT.MTS"), nullptr);
    EXPECT_EQ(tree.root.children.size(), 2u);
    EXPECT_EQ(tree.files, 2);
}

TEST(ExFatNames, SeparatorsNulAndLoneSurrogatesTravelUnchanged) {
    TempDir dir;
    ExFatImageBuilder image;
    const std::u16string hostile = {u'a', u'/', u'b', u'\\', u'c', 0, u'd', 0xD800, u'e', 0xDC00};
    AddRawSet(image, "", {.name = hostile, .firstCluster = 0});
    AddRawSet(image, "", {.name = u"."});
    AddRawSet(image, "", {.name = u".."});
    Tree tree = BuildTreeOf(image, dir);
    ASSERT_EQ(tree.root.children.size(), 1u) << "dot names are left out";
    EXPECT_EQ(tree.root.children[0].name, hostile);
}

// ---- Damaged and cut sets ------------------------------------------------------------------------------

TEST(ExFatEntrySets, SetReachingPastTheLastStoredEntryKeepsWhatWasGathered) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("FIRST.MTS", "1");
    // 20 units need two File Name entries; only the first is stored before the end mark.
    auto set = MakeRawSet({.name = u"ABCDEFGHIJKLMNOPQRST", .firstCluster = 0, .dataLength = 0});
    set.pop_back();
    for (const auto& slot : set)
        image.AddRawSlot("", slot);
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_NE(Child(tree.root, u"FIRST.MTS"), nullptr);
    EXPECT_NE(Child(tree.root, u"ABCDEFGHIJKLMNO"), nullptr);
    EXPECT_EQ(tree.files, 2);
}

TEST(ExFatEntrySets, FileEntryAloneAtTheEndAndTooFewSecondariesAreLeftOut) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("ONE.MTS", "1");
    AddRawSet(image, "", {.name = u"SHORT", .secondaryCount = 1});
    image.AddFile("TWO.MTS", "2");
    auto set = MakeRawSet({.name = u"LAST"});
    image.AddRawSlot("", set.front()); // a File entry with nothing after it
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 2);
    EXPECT_NE(Child(tree.root, u"ONE.MTS"), nullptr);
    EXPECT_NE(Child(tree.root, u"TWO.MTS"), nullptr);
    EXPECT_EQ(tree.root.children.size(), 2u);
}

TEST(ExFatEntrySets, BareInUseSlotIsReadAndDropped) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("BEFORE.MTS", "b");
    Slot bare{};
    bare[0] = 0x80;
    bare[1] = 0x02; // would be a secondary count if it were stored
    image.AddRawSlot("", bare);
    image.AddFile("AFTER.MTS", "a");
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 2);
    EXPECT_NE(Child(tree.root, u"AFTER.MTS"), nullptr);
}

TEST(ExFatEntrySets, VendorEntriesAreReadAsWholeSlots) {
    TempDir dir;
    ExFatImageBuilder image;
    const std::array<uint8_t, 16> guid = {0xC1, 0x85, 0xC0, 0x41, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    TestSupport::ExFatEntryOptions options;
    options.vendorEntries = {TestSupport::ExFatVendorEntry::Extension(guid, "\x85\xC0\xC1 vendor"),
                             TestSupport::ExFatVendorEntry::Allocation(guid, 77, 4096)};
    image.AddFile("VENDOR.MTS", "v", options);
    image.AddFile("NEXT.MTS", std::string(5000, 'n'));
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 2);
    ASSERT_EQ(tree.root.children.size(), 2u);
    const DirEntry* next = Child(tree.root, u"NEXT.MTS");
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->length, 5000u);
    EXPECT_EQ(Extents(*next), image.Describe("NEXT.MTS").extents);
}

// ---- Deleted sets -----------------------------------------------------------------------------------------

TEST(ExFatDeletedSets, YieldTheSameEntryAsTheLiveSet) {
    TempDir liveDir, goneDir;
    ExFatImageBuilder live, gone;
    for (ExFatImageBuilder* image : {&live, &gone}) {
        image->AddFile("DCIM/100CAM/A LONG CLIP NAME 0001.MTS", std::string(20000, 'c'), {.clusters = {60, 61, 80, 81}});
        image->AddFile("DCIM/100CAM/KEEP.JPG", "k");
    }
    gone.DeleteEntry("DCIM/100CAM/A LONG CLIP NAME 0001.MTS");
    gone.DeleteEntry("DCIM/100CAM/KEEP.JPG");
    Tree liveTree = BuildTreeOf(live, liveDir);
    Tree goneTree = BuildTreeOf(gone, goneDir);
    EXPECT_EQ(goneTree.files, liveTree.files);
    const DirEntry& liveFolder = *Child(*Child(liveTree.root, u"DCIM"), u"100CAM");
    const DirEntry& goneFolder = *Child(*Child(goneTree.root, u"DCIM"), u"100CAM");
    ASSERT_EQ(goneFolder.children.size(), liveFolder.children.size());
    for (size_t i = 0; i < liveFolder.children.size(); ++i) {
        const DirEntry& a = liveFolder.children[i];
        const DirEntry& b = goneFolder.children[i];
        EXPECT_EQ(a.name, b.name);
        EXPECT_FALSE(b.deleted);
        EXPECT_EQ(a.start, b.start);
        EXPECT_EQ(a.length, b.length);
        EXPECT_EQ(Extents(a), Extents(b));
        EXPECT_EQ(a.chainBroken, b.chainBroken);
    }
}

TEST(ExFatDeletedSets, DeletedFolderIsWalkedWithItsDeletedContents) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("OLD/X.MTS", "x");
    image.AddFile("OLD/Y.MTS", "y");
    image.DeleteEntry("OLD");
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 2);
    const DirEntry* old = Child(tree.root, u"OLD");
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->children.size(), 2u);
}

TEST(ExFatDeletedSets, FreedChainGivesOneExtentOverTheWholeLength) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("CLIP.MTS", std::string(10000, 'c'), {.clusters = {50, 51, 52}});
    image.DeleteEntry("CLIP.MTS", /*clearFatChain=*/true);
    Tree tree = BuildTreeOf(image, dir);
    const DirEntry* clip = Child(tree.root, u"CLIP.MTS");
    ASSERT_NE(clip, nullptr);
    EXPECT_TRUE(clip->chainBroken);
    ASSERT_EQ(clip->chain.size(), 1u);
    EXPECT_EQ(clip->chain[0].start, image.ClusterOffset(50));
    EXPECT_EQ(clip->chain[0].length, 10000u);
}

// ---- Directory guards -------------------------------------------------------------------------------------------

TEST(ExFatDirectoryGuards, EntriesNamingAnAncestorOrTheSameFolderAreNotReadAgain) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("A/B/FILE.MTS", "f");
    const uint32_t a = image.Describe("A").firstCluster;
    AddRawSet(image, "A/B", {.name = u"UP", .attributes = 0x10, .firstCluster = a, .dataLength = 4096});
    AddRawSet(image, "A/B", {.name = u"ROOT", .attributes = 0x10, .firstCluster = image.RootCluster(),
                             .dataLength = 4096});
    AddRawSet(image, "", {.name = u"ALIAS", .attributes = 0x10, .firstCluster = a, .dataLength = 4096});
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 1);
    const DirEntry* b = Child(*Child(tree.root, u"A"), u"B");
    ASSERT_NE(b, nullptr);
    ASSERT_NE(Child(*b, u"UP"), nullptr);
    EXPECT_TRUE(Child(*b, u"UP")->children.empty());
    EXPECT_TRUE(Child(*b, u"ROOT")->children.empty());
    EXPECT_TRUE(Child(tree.root, u"ALIAS")->children.empty());
}

TEST(ExFatDirectoryGuards, DepthIsLimited) {
    TempDir dir;
    ExFatImageBuilder image;
    std::string path;
    for (int level = 1; level <= FSAccessLib::ExFAT::kMaxDirectoryDepth + 2; ++level)
        path += (path.empty() ? "" : "/") + std::string("D");
    image.AddFolder(path);
    Tree tree = BuildTreeOf(image, dir);
    int depth = 0;
    const DirEntry* deepest = &tree.root;
    while (!deepest->children.empty()) {
        deepest = &deepest->children[0];
        ++depth;
    }
    EXPECT_EQ(depth, FSAccessLib::ExFAT::kMaxDirectoryDepth + 1) << "the last folder read lists one more";
}

TEST(ExFatDirectoryGuards, FolderOutsideTheHeapIsNotRead) {
    TempDir dir;
    ExFatImageBuilder image;
    AddRawSet(image, "", {.name = u"ZERO", .attributes = 0x10, .firstCluster = 0});
    AddRawSet(image, "", {.name = u"FAR", .attributes = 0x10, .firstCluster = 0x7FFFFFFF});
    Tree tree = BuildTreeOf(image, dir);
    ASSERT_EQ(tree.root.children.size(), 2u);
    EXPECT_TRUE(tree.root.children[0].children.empty());
    EXPECT_TRUE(tree.root.children[1].children.empty());
}

TEST(ExFatDirectoryGuards, LiveFolderIsReadAlongItsChainAndNeverPastItsDataLength) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFolder("F", {.clusters = {50, 52}});
    const int files = 60; // 3 slots each: more than one 4 KiB cluster holds
    for (int i = 0; i < files; ++i)
        image.AddFile("F/C" + std::to_string(1000 + i) + ".MTS", "c");
    image.AddFolder("G", {.clusters = {60}});
    image.AddFile("G/OTHER.MTS", "o");
    // F's chain runs on into G's cluster; F's DataLength (two clusters) ends it first.
    image.SetFatEntry(52, 60);
    Tree tree = BuildTreeOf(image, dir);
    const DirEntry* folder = Child(tree.root, u"F");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->children.size(), static_cast<size_t>(files)) << "the sets in cluster 52 are reached";
    EXPECT_EQ(Child(*folder, u"OTHER.MTS"), nullptr);
}

// ---- Files of 4 GiB and more -----------------------------------------------------------------------------------

TEST(ExFatLargeFiles, LengthsBeyondFourGiBAreKeptWhole) {
    TempDir dir;
    ExFatGeometry geometry;
    geometry.volumeBytes = 12ull << 30;
    ExFatImageBuilder image(geometry);
    const uint64_t big = (4ull << 30) + 4097;
    image.AddFile("BIG.MTS", "head", {.dataLength = big});
    image.AddFile("RUN.MTS", "head", {.noFatChain = true, .dataLength = big});
    image.WriteFileData("BIG.MTS", big - 4, "TAIL");
    Tree tree = BuildTreeOf(image, dir);
    EXPECT_EQ(tree.files, 2);

    const DirEntry* chained = Child(tree.root, u"BIG.MTS");
    ASSERT_NE(chained, nullptr);
    EXPECT_EQ(chained->length, big);
    EXPECT_FALSE(chained->chainBroken);
    EXPECT_EQ(ChainTotal(*chained), big);
    EXPECT_EQ(Extents(*chained), image.Describe("BIG.MTS").extents);

    const DirEntry* run = Child(tree.root, u"RUN.MTS");
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->length, big);
    EXPECT_TRUE(run->chain.empty());

    // The last four bytes, found through the extents, are the ones written there.
    const DataBlock& last = chained->chain.back();
    tree.reader->stream->Seek(static_cast<int64_t>(last.start + last.length - 4), AAA::SeekBegin);
    char tail[4] = {};
    ASSERT_EQ(tree.reader->stream->Read(tail, 4), 4u);
    EXPECT_EQ(std::string(tail, 4), "TAIL");
}

TEST(ExFatLargeFiles, FragmentedFileBeyondFourGiBIsTrimmedInSixtyFourBits) {
    TempDir dir;
    ExFatGeometry geometry;
    geometry.volumeBytes = 12ull << 30;
    ExFatImageBuilder image(geometry);
    const uint64_t big = (5ull << 30) + 1;
    const uint64_t clusters = big / image.ClusterSize() + 1;
    TestSupport::ExFatEntryOptions options;
    options.dataLength = big;
    for (uint32_t i = 0; i < clusters; ++i)
        options.clusters.push_back(1000 + i + (i >= clusters / 2 ? 50 : 0)); // two runs, a gap of 50
    image.AddFile("FRAG.MTS", "head", options);
    Tree tree = BuildTreeOf(image, dir);
    const DirEntry* frag = Child(tree.root, u"FRAG.MTS");
    ASSERT_NE(frag, nullptr);
    EXPECT_EQ(frag->chain.size(), 2u);
    EXPECT_EQ(ChainTotal(*frag), big);
    EXPECT_EQ(Extents(*frag), image.Describe("FRAG.MTS").extents);
    EXPECT_FALSE(frag->chainBroken);
}

} // namespace
