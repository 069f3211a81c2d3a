#include <gtest/gtest.h>

#include <random>

#include "FSAccessCommon.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using FSAccessTest::File;
using FSAccessTest::Folder;

namespace {

// A random entry: a plain extent, or a chain that sometimes overlaps itself,
// sometimes empty or wrapping extents; ends often coincide to exercise ties.
DirEntry RandomEntry(std::mt19937_64& rng, bool folder) {
    std::uniform_int_distribution<uint64_t> pos(0, 4000), len(0, 400), pick(0, 9);
    DirEntry entry = folder ? Folder(u"D") : File(u"F", pos(rng), len(rng) / 10 * 10);
    if (pick(rng) < 4) {
        const uint64_t blocks = 1 + pick(rng) % 4;
        for (uint64_t b = 0; b < blocks; ++b)
            entry.chain.emplace_back(pos(rng) / 10 * 10, len(rng), nullptr);
    }
    if (pick(rng) == 0)
        entry.start = ~0ull - 5, entry.length = 100; // wraps: never contains anything
    return entry;
}

void Grow(DirEntry& folder, std::mt19937_64& rng, int depth) {
    std::uniform_int_distribution<int> count(0, 6), kind(0, 3);
    const int n = count(rng);
    for (int i = 0; i < n; ++i) {
        const bool isFolder = depth < 4 && kind(rng) == 0;
        folder.children.push_back(RandomEntry(rng, isFolder));
        if (kind(rng) == 1 && !isFolder) // a file with children: never walked into
            folder.children.back().children.push_back(File(u"X", 0, 5000));
    }
    for (DirEntry& child : folder.children)
        if (child.isDirectory)
            Grow(child, rng, depth + 1);
}

void ExpectSameAnswers(DirEntry& root, const ExtentIndex& index, uint64_t seed) {
    for (uint64_t p = 0; p <= 4500; p += 3) {
        CommandSearchExistingDataBlock walk(p);
        root.Apply(walk);
        uint64_t foundEnd = 0;
        DirEntry* found = index.Query(root, p, foundEnd);
        ASSERT_EQ(found, walk.found) << "seed " << seed << " position " << p;
        ASSERT_EQ(foundEnd, walk.foundEnd) << "seed " << seed << " position " << p;
    }
}

TEST(ExtentIndexTest, MatchesTheWalkOnRandomTrees) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        std::mt19937_64 rng(seed);
        DirEntry root;
        Grow(root, rng, 0);
        root.Relink(nullptr);
        ExtentIndex index;
        index.AddTree(root);
        ExpectSameAnswers(root, index, seed);
    }
}

TEST(ExtentIndexTest, StaysInStepWhileEntriesAreAppendedAnywhere) {
    for (uint64_t seed = 100; seed < 110; ++seed) {
        std::mt19937_64 rng(seed);
        DirEntry root;
        Grow(root, rng, 0);
        root.Relink(nullptr);
        ExtentIndex index;
        index.AddTree(root);
        std::uniform_int_distribution<int> where(0, 2);
        for (int round = 0; round < 300; ++round) {
            // Append to the root (as the sector search does) or into a random folder.
            DirEntry* folder = &root;
            while (where(rng) == 0) {
                std::vector<DirEntry*> folders;
                for (DirEntry& c : folder->children)
                    if (c.isDirectory)
                        folders.push_back(&c);
                if (folders.empty())
                    break;
                folder = folders[rng() % folders.size()];
            }
            folder->children.push_back(RandomEntry(rng, where(rng) == 0));
            if (folder->children.back().isDirectory)
                Grow(folder->children.back(), rng, 3);
            root.Relink(nullptr);
            const DirEntry& added = folder->children.back();
            index.AddSubtree(added, KeyOf(added));
            if (round % 50 == 49)
                ExpectSameAnswers(root, index, seed);
        }
        ExpectSameAnswers(root, index, seed);
    }
}

TEST(ExtentIndexTest, KeysFollowWalkOrderAndResolveAfterAppends) {
    DirEntry root;
    root.children.push_back(Folder(u"A"));
    root.children[0].children.push_back(File(u"B", 0, 10));
    root.children.push_back(File(u"C", 0, 10));
    root.Relink(nullptr);
    const EntryKey b = KeyOf(root.children[0].children[0]);
    EXPECT_EQ(b, (EntryKey{0, 0}));
    EXPECT_LT(KeyOf(root.children[0]), b);
    EXPECT_LT(b, KeyOf(root.children[1]));
    for (int i = 0; i < 100; ++i)
        root.children.push_back(File(u"N", 0, 1)); // moves A and C
    root.Relink(nullptr);
    EXPECT_EQ(Resolve(root, b)->name, u"B");
    EXPECT_EQ(Resolve(root, EntryKey{7, 0}), nullptr);
    EXPECT_EQ(Resolve(root, EntryKey{}), &root);
    EXPECT_TRUE(KeyOf(root).empty());

    // Equal ends: the earlier entry in walk order wins, whichever was indexed first.
    ExtentIndex index;
    index.AddSubtree(root.children[1], KeyOf(root.children[1]));
    index.AddSubtree(root.children[0], KeyOf(root.children[0]));
    uint64_t end = 0;
    EXPECT_EQ(index.Query(root, 5, end), &root.children[0].children[0]);
    EXPECT_EQ(end, 10u);
    EXPECT_EQ(index.Query(root, 10, end), nullptr);
    EXPECT_EQ(end, 10u);
}

TEST(ExtentIndexTest, EntriesBeyondTheDepthLimitAreNotIndexed) {
    DirEntry root;
    DirEntry* at = &root;
    for (size_t i = 0; i < kMaxTreeDepth; ++i) {
        at->children.push_back(Folder(u"d"));
        at = &at->children.back();
    }
    at->children.push_back(File(u"deep", 0, 100));
    FSAccessTest::LogCapture quiet;
    root.Relink(nullptr);
    ExtentIndex index;
    index.AddTree(root);
    EXPECT_EQ(index.ExtentCount(), 0u);
    CommandSearchExistingDataBlock walk(50);
    root.Apply(walk);
    EXPECT_EQ(walk.found, nullptr);
}

} // namespace
