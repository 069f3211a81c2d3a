// exFAT allocation chains to extents: NoFatChain runs, fragments, breaks,
// loops, the cluster limit and the cut to the file's length.
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

TEST(ExFatChains, NoFatChainKeepsAnEmptyChainAndFragmentsFollowTheTable) {
    TempDir dir;
    ExFatImageBuilder image;
    image.AddFile("RUN.MTS", std::string(3 * 4096 + 7, 'r'), {.noFatChain = true, .clusters = {30, 31, 32, 33}});
    image.AddFile("FRAG.MTS", std::string(2 * 4096 + 9, 'f'), {.clusters = {40, 41, 90}});
    Tree tree = BuildTreeOf(image, dir);
    const DirEntry* run = Child(tree.root, u"RUN.MTS");
    ASSERT_NE(run, nullptr);
    EXPECT_TRUE(run->noFatChain);
    EXPECT_TRUE(run->chain.empty());
    EXPECT_FALSE(run->chainBroken);
    EXPECT_EQ(run->start, image.ClusterOffset(30));
    EXPECT_EQ(run->length, 3u * 4096 + 7);
    const DirEntry* frag = Child(tree.root, u"FRAG.MTS");
    ASSERT_NE(frag, nullptr);
    const std::vector<TestSupport::ExFatExtent> expected = {{image.ClusterOffset(40), 2 * 4096},
                                                           {image.ClusterOffset(90), 9}};
    EXPECT_EQ(Extents(*frag), expected);
    EXPECT_FALSE(frag->chainBroken);
}

// Chains written straight into the loaded table, as the cases are stated.
class ExFatChainCases : public testing::Test {
protected:
    void SetUp() override {
        reader_ = LoadImage(image_, dir_);
        cluster_ = reader_->clusterSize;
    }
    void Link(std::initializer_list<std::pair<uint32_t, uint32_t>> links) {
        for (const auto& [from, to] : links)
            reader_->fat.Entry.SetValue(from, to);
    }
    DirEntry Chain(uint32_t first, uint64_t length) {
        DirEntry entry("", "");
        entry.firstCluster = first;
        entry.start = reader_->ClusterToOffset(first);
        entry.length = length;
        reader_->BuildDataChain(entry);
        return entry;
    }
    uint64_t At(uint32_t cluster) const { return reader_->ClusterToOffset(cluster); }

    TempDir dir_;
    ExFatImageBuilder image_;
    std::unique_ptr<FSAccessExFAT> reader_;
    uint64_t cluster_ = 0;
};

TEST_F(ExFatChainCases, ConsecutiveRunTrimmedToTheLength) {
    Link({{5, 6}, {6, 7}, {7, 0xFFFFFFFF}});
    const DirEntry e = Chain(5, cluster_ * 5 / 2);
    const std::vector<TestSupport::ExFatExtent> expected = {{At(5), cluster_ * 5 / 2}};
    EXPECT_EQ(Extents(e), expected);
    EXPECT_FALSE(e.chainBroken);
}

TEST_F(ExFatChainCases, JumpStartsASecondExtent) {
    Link({{5, 6}, {6, 9}, {9, 0xFFFFFFFF}});
    const DirEntry e = Chain(5, cluster_ * 3);
    const std::vector<TestSupport::ExFatExtent> expected = {{At(5), 2 * cluster_}, {At(9), cluster_}};
    EXPECT_EQ(Extents(e), expected);
    EXPECT_FALSE(e.chainBroken);
}

TEST_F(ExFatChainCases, FreeSuccessorBreaksTheChain) {
    Link({{5, 0}});
    const DirEntry e = Chain(5, 100);
    ASSERT_EQ(e.chain.size(), 1u);
    EXPECT_EQ(e.chain[0].start, At(5));
    EXPECT_EQ(e.chain[0].length, 100u);
    EXPECT_TRUE(e.chainBroken);
}

TEST_F(ExFatChainCases, EmptyFileHasNoExtentsAndABrokenChain) {
    const DirEntry e = Chain(0, 0);
    EXPECT_TRUE(e.chain.empty());
    EXPECT_EQ(e.start, 0u);
    EXPECT_TRUE(e.chainBroken);
}

TEST_F(ExFatChainCases, LoopsStopWithABrokenChainAndBoundedExtents) {
    Link({{5, 6}, {6, 5}});                          // two-cluster loop
    const DirEntry pair = Chain(5, 0);
    EXPECT_TRUE(pair.chainBroken);
    ASSERT_EQ(pair.chain.size(), 1u);
    EXPECT_EQ(pair.chain[0].length, 2 * cluster_);

    Link({{20, 20}});                                // a cluster naming itself
    const DirEntry self = Chain(20, cluster_ / 2);
    EXPECT_TRUE(self.chainBroken);
    EXPECT_EQ(ChainTotal(self), cluster_ / 2);

    Link({{30, 31}, {31, 32}, {32, 30}});            // loop back through a run
    const DirEntry run = Chain(30, 10 * cluster_);
    EXPECT_TRUE(run.chainBroken);
    EXPECT_EQ(run.chain.size(), 1u);
    EXPECT_EQ(ChainTotal(run), 10 * cluster_) << "stretched to the length";

    // The loop guard forgets each chain: the same clusters read again are no loop.
    Link({{40, 41}, {41, 0xFFFFFFFF}});
    EXPECT_FALSE(Chain(40, 0).chainBroken);
    EXPECT_FALSE(Chain(40, 0).chainBroken);
}

TEST_F(ExFatChainCases, ChainLongerThanTheLengthIsCutNeverBelowZero) {
    Link({{5, 9}, {9, 13}, {13, 14}, {14, 0xFFFFFFFF}});
    const DirEntry small = Chain(5, 100);
    const std::vector<TestSupport::ExFatExtent> one = {{At(5), 100}};
    EXPECT_EQ(Extents(small), one);

    const DirEntry exact = Chain(5, cluster_); // the first extent holds it all
    EXPECT_EQ(exact.chain.size(), 1u);
    EXPECT_EQ(ChainTotal(exact), cluster_);

    const DirEntry two = Chain(5, cluster_ + 1);
    const std::vector<TestSupport::ExFatExtent> cut = {{At(5), cluster_}, {At(9), 1}};
    EXPECT_EQ(Extents(two), cut);
}

TEST_F(ExFatChainCases, SuccessorAtTheClusterLimitKeepsTheRunAndBreaks) {
    const uint32_t last = reader_->clusterLimit - 1;
    Link({{last - 1, last}, {last, last + 1}});
    const DirEntry e = Chain(last - 1, 0);
    const std::vector<TestSupport::ExFatExtent> expected = {{At(last - 1), 2 * cluster_}};
    EXPECT_EQ(Extents(e), expected);
    EXPECT_TRUE(e.chainBroken);
}

} // namespace
