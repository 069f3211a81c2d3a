#include <gtest/gtest.h>

#include "FSAccessCommon.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using FSAccessTest::File;
using FSAccessTest::Folder;

namespace {

// root -> D1 (folder) -> F1, F2 ; root -> D2 (folder) ; root -> F3
DirEntry SmallTree() {
    DirEntry root;
    root.children.push_back(Folder(u"D1"));
    root.children[0].children.push_back(File(u"F1.MTS", 1000, 100));
    root.children[0].children.push_back(File(u"F2.JPG", 2000, 200));
    root.children.push_back(Folder(u"D2"));
    root.children.push_back(File(u"F3.MTS", 3000, 300));
    root.Relink(nullptr);
    return root;
}

TEST(SelectCountTotalTest, SlectAllCountTargetAndTotalFileLength) {
    DirEntry root = SmallTree();
    CommandSlectAll all;
    root.Apply(all);
    EXPECT_EQ(all.count, 3);
    CommandCountTarget counted;
    root.Apply(counted);
    EXPECT_EQ(counted.count, 5);
    root.children[0].length = 77777; // a folder's length never counts
    CommandTotalFileLength total;
    root.Apply(total);
    EXPECT_EQ(total.total, 600u);

    root.children[0].children[1].target = false;
    CommandTotalFileLength partial;
    root.Apply(partial);
    EXPECT_EQ(partial.total, 400u);
    CommandCountTarget fewer;
    root.Apply(fewer);
    EXPECT_EQ(fewer.count, 4);
}

TEST(NameSearchTest, WholeNamePartAndAddress) {
    DirEntry root = SmallTree();
    root.children[1].children.push_back(File(u"F1.MTS", 1000, 100));
    root.Relink(nullptr);

    CommandSearchExistingName byName(u"F1.MTS");
    root.Apply(byName);
    EXPECT_EQ(byName.found, &root.children[1].children[0]); // the last match
    CommandSearchExistingName caseDiffers(u"f1.mts");
    root.Apply(caseDiffers);
    EXPECT_EQ(caseDiffers.found, nullptr);
    CommandSearchExistingName partOnly(u"F1");
    root.Apply(partOnly);
    EXPECT_EQ(partOnly.found, nullptr);

    CommandSearchExistingNamePart part(u".JPG");
    root.Apply(part);
    EXPECT_EQ(part.found, &root.children[0].children[1]);
    CommandSearchExistingNamePart empty(u"");
    root.Apply(empty);
    EXPECT_EQ(empty.found, &root.children[2]); // the last entry visited

    CommandSearchExistingAddr2 address(1000);
    root.Apply(address);
    EXPECT_EQ(address.matches,
              (std::vector<DirEntry*>{&root.children[0].children[0], &root.children[1].children[0]}));
}

TEST(EntrySearchTest, NameStartAndLengthMustAllMatch) {
    DirEntry root = SmallTree();
    DirEntry probe = File(u"F2.JPG", 2000, 200);
    CommandSearchExistingEntry same(&probe);
    root.Apply(same);
    EXPECT_EQ(same.found, &root.children[0].children[1]);

    for (DirEntry variant : {File(u"F2.JPG", 2001, 200), File(u"F2.JPG", 2000, 201), File(u"F2.JPH", 2000, 200),
                             File(u"F2.JPG", 2000 + (1ull << 32), 200)}) {
        CommandSearchExistingEntry search(&variant);
        root.Apply(search);
        EXPECT_EQ(search.found, nullptr);
    }
}

TEST(DataBlockSearchTest, StartInsideEndOutside) {
    DirEntry root = SmallTree();
    CommandSearchExistingDataBlock atStart(1000);
    root.Apply(atStart);
    EXPECT_EQ(atStart.found, &root.children[0].children[0]);
    EXPECT_EQ(atStart.foundEnd, 1100u);
    CommandSearchExistingDataBlock atEnd(1100);
    root.Apply(atEnd);
    EXPECT_EQ(atEnd.found, nullptr);
    EXPECT_EQ(atEnd.foundEnd, 1100u);
    CommandSearchExistingDataBlock lastByte(1099);
    root.Apply(lastByte);
    EXPECT_EQ(lastByte.foundEnd, 1100u);
}

TEST(DataBlockSearchTest, FurthestEndWinsWhateverTheOrderFirstWinsTies) {
    for (bool shortFirst : {true, false}) {
        DirEntry root;
        root.children.push_back(File(u"A", 500, shortFirst ? 500 : 1500));
        root.children.push_back(File(u"B", 500, shortFirst ? 1500 : 500));
        root.Relink(nullptr);
        CommandSearchExistingDataBlock search(700);
        root.Apply(search);
        EXPECT_EQ(search.foundEnd, 2000u);
        EXPECT_EQ(search.found->name, shortFirst ? u"B" : u"A");
    }
    DirEntry tie;
    tie.children.push_back(File(u"A", 0, 2000));
    tie.children.push_back(File(u"B", 1000, 1000));
    tie.Relink(nullptr);
    CommandSearchExistingDataBlock search(1500);
    tie.Apply(search);
    EXPECT_EQ(search.found, &tie.children[0]);
}

TEST(DataBlockSearchTest, ChainReplacesStartAndLaterContainingBlockOverrides) {
    DirEntry root;
    root.children.push_back(File(u"A", 0, 100000)); // start/length ignored: it has a chain
    root.children[0].chain.emplace_back(4096, 4096, nullptr);
    root.children[0].chain.emplace_back(0, 9000, nullptr);  // later and containing: its end counts
    root.Relink(nullptr);
    CommandSearchExistingDataBlock inBoth(5000);
    root.Apply(inBoth);
    EXPECT_EQ(inBoth.foundEnd, 9000u);
    CommandSearchExistingDataBlock onlyStart(50000);
    root.Apply(onlyStart);
    EXPECT_EQ(onlyStart.found, nullptr);

    root.children[0].chain[1] = DataBlock(4096, 100, nullptr); // later block ends sooner
    CommandSearchExistingDataBlock overridden(4100);
    root.Apply(overridden);
    EXPECT_EQ(overridden.foundEnd, 4196u);
}

TEST(DisplayTest, TargetsOnlyOrEverythingWithChains) {
    DirEntry root = SmallTree();
    root.children[0].children[0].target = true;
    root.children[0].children[0].chain.emplace_back(0x1000, 0x20, nullptr);
    root.children[0].children[0].chain.emplace_back(0x3000, 0x44, nullptr);
    FSAccessTest::LogCapture log;
    CommandDisplayTarget targets;
    root.Apply(targets);
    EXPECT_EQ(log.Text(),
              "Start=0x00000000000003E8, Size=0x00000064, \\D1\\F1.MTS,\tChain=0x1000(0x20) 0x3000(0x44) \n");
    CommandDisplay everything;
    EXPECT_TRUE(everything.displayAll);
    root.Apply(everything);
    EXPECT_EQ(log.Count("\n"), 6u);
    EXPECT_EQ(log.Count("Start=0x0000000000000BB8, Size=0x0000012C, \\F3.MTS,\tChain=\n"), 1u);
}

} // namespace
