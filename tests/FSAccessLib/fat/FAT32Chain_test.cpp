// FAT32 allocation chains to extents, straight from a table in memory: runs,
// breaks, loops, the cluster limit and the fit to the file's length.
#include <gtest/gtest.h>

#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT16FAT32Common.h"
#include "FSSpecFAT32.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using namespace FSAccessLib::FAT32;
using namespace FatReaderTest;

namespace {

// A reader with a hand-made geometry and table: 512-byte clusters, cluster 2 at 0x10000.
class FAT32ChainTest : public ::testing::Test {
protected:
    FAT32ChainTest() : reader(u"unused") {
        reader.clusterSize = 512;
        reader.startOfDataArea = 0x10000;
        reader.totalBytes = 64u << 20;
        reader.fat.NumberOfEntries.SetValue(64);
        for (uint32_t c = 0; c < 64; ++c)
            reader.fat.Entry.SetValue(c, 0);
        reader.clusterLimit = 1000; // above the table's 64 entries, as on many cards
    }
    void Link(std::initializer_list<uint32_t> chain) {
        const std::vector<uint32_t> c(chain);
        for (size_t i = 0; i + 1 < c.size(); ++i)
            reader.fat.Entry.SetValue(c[i], c[i + 1]);
    }
    DirEntry Chain(uint32_t first, uint64_t length) {
        DirEntry entry("FILE    ", "BIN");
        entry.firstCluster = first;
        entry.start = reader.ClusterToOffset(first);
        entry.length = length;
        reader.BuildDataChain(entry);
        return entry;
    }
    uint64_t Offset(uint32_t cluster) const { return reader.ClusterToOffset(cluster); }
    FSAccessFAT32 reader;
};

TEST_F(FAT32ChainTest, ContiguousChainIsOneExtentTrimmedToTheLength) {
    Link({5, 6, 7, 0x0FFFFFFF});
    const DirEntry e = Chain(5, 1200);
    ASSERT_EQ(e.chain.size(), 1u);
    EXPECT_EQ(e.chain[0].start, Offset(5));
    EXPECT_EQ(e.chain[0].length, 1200u);
    EXPECT_EQ(e.chain[0].owner, &e);
    EXPECT_FALSE(e.chainBroken);
}

TEST_F(FAT32ChainTest, JumpsMakeOneExtentPerRun) {
    Link({5, 9, 0x0FFFFFF8});
    const DirEntry e = Chain(5, 1024);
    ASSERT_EQ(e.chain.size(), 2u);
    EXPECT_EQ(e.chain[0].start, Offset(5));
    EXPECT_EQ(e.chain[0].length, 512u);
    EXPECT_EQ(e.chain[1].start, Offset(9));
    EXPECT_EQ(e.chain[1].length, 512u);
    EXPECT_FALSE(e.chainBroken);
}

TEST_F(FAT32ChainTest, FreeEntryBreaksTheChainAndTheFileRunsOnContiguously) {
    Link({5, 0});
    const DirEntry e = Chain(5, 100000);
    ASSERT_EQ(e.chain.size(), 1u);
    EXPECT_EQ(e.chain[0].start, Offset(5));
    EXPECT_EQ(e.chain[0].length, 100000u);
    EXPECT_TRUE(e.chainBroken);
}

TEST_F(FAT32ChainTest, ReservedTopBitsAreNotMasked) {
    Link({5, 0xF0000006}); // 6 with the reserved bits set is no cluster number
    const DirEntry e = Chain(5, 512);
    EXPECT_TRUE(e.chainBroken);
    ASSERT_EQ(e.chain.size(), 1u);
}

TEST_F(FAT32ChainTest, ClusterZeroOrOneGivesNoChain) {
    for (uint32_t first : {0u, 1u}) {
        const DirEntry e = Chain(first, 4000);
        EXPECT_TRUE(e.chain.empty());
        EXPECT_EQ(e.start, 0u);
    }
}

TEST_F(FAT32ChainTest, LoopStopsBrokenAndTotalsTheLength) {
    Link({5, 9, 10, 5}); // 10 points back to 5
    const DirEntry e = Chain(5, 1536);
    EXPECT_TRUE(e.chainBroken);
    EXPECT_EQ(ChainTotal(e), 1536u);
    EXPECT_LE(e.chain.size(), 3u) << "runs beyond the length are dropped";

    const DirEntry self = [&] {
        Link({20, 20});
        return Chain(20, 0); // a folder: its length is 0
    }();
    EXPECT_TRUE(self.chainBroken);
    EXPECT_LE(ChainTotal(self), FatCommon::kDirectoryByteLimit);
}

TEST_F(FAT32ChainTest, ClusterBeyondTheTableEndsTheChainBroken) {
    Link({60, 61, 62, 63, 64}); // 64 is one past the last entry
    const DirEntry e = Chain(60, 2048);
    EXPECT_TRUE(e.chainBroken);
    ASSERT_EQ(e.chain.size(), 1u);
    EXPECT_EQ(e.chain[0].start, Offset(60));
    EXPECT_EQ(e.chain[0].length, 2048u);

    Link({7, 500});
    const DirEntry jump = Chain(7, 600);
    EXPECT_TRUE(jump.chainBroken);
    EXPECT_EQ(ChainTotal(jump), 600u);
}

TEST_F(FAT32ChainTest, SurplusClustersAreDroppedNeverNegative) {
    Link({5, 9, 10, 11, 0x0FFFFFFF}); // 4 clusters for a 100-byte file
    const DirEntry e = Chain(5, 100);
    ASSERT_EQ(e.chain.size(), 1u);
    EXPECT_EQ(e.chain[0].start, Offset(5));
    EXPECT_EQ(e.chain[0].length, 100u);
    EXPECT_FALSE(e.chainBroken);

    Link({30, 40, 41, 42, 43, 0x0FFFFFFF}); // 5 clusters for 700 bytes
    const DirEntry two = Chain(30, 700);
    ASSERT_EQ(two.chain.size(), 2u);
    EXPECT_EQ(two.chain[0].length, 512u);
    EXPECT_EQ(two.chain[1].start, Offset(40));
    EXPECT_EQ(two.chain[1].length, 188u);
}

TEST_F(FAT32ChainTest, RunEndingAtTheClusterLimitIsLeftOut) {
    reader.clusterLimit = 12;
    Link({3, 9, 10, 11, 12});
    const DirEntry e = Chain(3, 2048);
    ASSERT_EQ(e.chain.size(), 1u) << "the run 9..11 runs into the limit";
    EXPECT_EQ(e.chain[0].start, Offset(3));
    EXPECT_EQ(e.chain[0].length, 512u) << "2048 less the three clusters no extent holds";
    EXPECT_TRUE(e.chainBroken);
}

TEST_F(FAT32ChainTest, FolderChainIsNotTrimmed) {
    Link({5, 6, 12, 0x0FFFFFFF});
    const DirEntry e = Chain(5, 0);
    ASSERT_EQ(e.chain.size(), 2u);
    EXPECT_EQ(ChainTotal(e), 3u * 512);
}

} // namespace
