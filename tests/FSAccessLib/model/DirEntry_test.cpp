#include <gtest/gtest.h>

#include "FSAccessCommon.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using FSAccessTest::File;
using FSAccessTest::Folder;

namespace {

// Records the order in which the walk hands out entries.
class RecordNames : public Command {
public:
    void Execute(DirEntry& entry) override { names.push_back(entry.name); }
    std::vector<std::u16string> names;
};

TEST(ShortNameTest, BlanksDotsDeletionAndWidening) {
    EXPECT_EQ(DirEntry("FOO     ", "   ").name, u"FOO");
    EXPECT_EQ(DirEntry("FOO     ", "TXT").name, u"FOO.TXT");
    EXPECT_EQ(DirEntry("        ", "TXT").name, u"");
    EXPECT_EQ(DirEntry("MY FILE ", "TXT").name, u"MY.TXT");
    EXPECT_EQ(DirEntry("FOO     ", "T X").name, u"FOO.T");

    DirEntry deleted("\xE5OO     ", "JPG");
    EXPECT_EQ(deleted.name, u"!OO.JPG");
    EXPECT_TRUE(deleted.deleted);
    DirEntry live("\xE4OO     ", "JPG");
    EXPECT_FALSE(live.deleted);
    EXPECT_EQ(live.name, std::u16string({char16_t(0xFFE4), u'O', u'O', u'.', u'J', u'P', u'G'}));

    DirEntry high("A\x82      ", "   ");
    EXPECT_EQ(high.name, std::u16string({u'A', char16_t(0xFF82)}));
    EXPECT_FALSE(high.isDirectory);
    EXPECT_FALSE(high.target);
}

TEST(DirEntryTest, RootDefaults) {
    DirEntry root;
    EXPECT_TRUE(root.isDirectory);
    EXPECT_TRUE(root.name.empty());
    EXPECT_EQ(root.parent, nullptr);
    EXPECT_EQ(root.start, 0u);
    EXPECT_FALSE(root.deleted || root.carved || root.chainBroken || root.noFatChain || root.target ||
                 root.dvMarked || root.holdTail);
}

TEST(DirEntryTest, FullPathJoinsWithBackslashes) {
    DirEntry root;
    root.children.push_back(Folder(u"DCIM"));
    root.children[0].children.push_back(Folder(u"100ABCDE"));
    root.Relink(nullptr);
    EXPECT_EQ(root.FullPath(), u"");
    EXPECT_EQ(root.children[0].FullPath(), u"\\DCIM");
    EXPECT_EQ(root.children[0].children[0].FullPath(), u"\\DCIM\\100ABCDE");
}

TEST(DirEntryTest, RelinkAfterAppendsRestoresInvariant) {
    DirEntry root;
    for (int i = 0; i < 5; ++i) {
        DirEntry folder = Folder(u"D" + std::u16string(1, char16_t(u'0' + i)));
        folder.children.push_back(File(u"F", 100u * i, 10));
        folder.children.back().chain.emplace_back(100u * i, 10, nullptr);
        folder.chain.emplace_back(7, 1, nullptr);
        root.children.push_back(folder); // may move earlier children
        root.Relink(nullptr);
    }
    // One more append after the last relink makes the pointers stale again.
    root.children.push_back(Folder(u"LATE"));
    root.children[0].children.push_back(File(u"G", 1, 1));
    root.Relink(nullptr);
    EXPECT_EQ(root.parent, nullptr);
    for (DirEntry& folder : root.children) {
        EXPECT_EQ(folder.parent, &root);
        for (DataBlock& block : folder.chain)
            EXPECT_EQ(block.owner, &folder);
        for (DirEntry& child : folder.children) {
            EXPECT_EQ(child.parent, &folder);
            for (DataBlock& block : child.chain)
                EXPECT_EQ(block.owner, &child);
        }
    }
}

TEST(DirEntryTest, RelinkWithParentSetsIt) {
    DirEntry holder;
    DirEntry file = File(u"X", 0, 1);
    file.chain.emplace_back(0, 1, nullptr);
    file.Relink(&holder);
    EXPECT_EQ(file.parent, &holder);
    EXPECT_EQ(file.chain[0].owner, &file);
    file.Relink(nullptr);
    EXPECT_EQ(file.parent, &holder);
}

TEST(ApplyTest, VisitsDescendantsPreOrderNeverTheNodeOrInsideFiles) {
    DirEntry root;
    RecordNames empty;
    root.Apply(empty);
    EXPECT_TRUE(empty.names.empty());

    root.children.push_back(Folder(u"A"));
    root.children[0].children.push_back(File(u"B", 0, 0));
    root.children.push_back(File(u"C", 0, 0));
    root.children[1].children.push_back(File(u"HIDDEN", 0, 0)); // inside a file: never visited
    root.Relink(nullptr);

    RecordNames order;
    root.Apply(order);
    EXPECT_EQ(order.names, (std::vector<std::u16string>{u"A", u"B", u"C"}));

    RecordNames fromFile;
    root.children[1].Apply(fromFile);
    EXPECT_TRUE(fromFile.names.empty());

    RecordNames fromA;
    root.children[0].Apply(fromA);
    EXPECT_EQ(fromA.names, (std::vector<std::u16string>{u"B"}));
}

// A chain of nested folders `levels` deep below the root; the deepest holds a file.
DirEntry DeepTree(size_t levels) {
    DirEntry root;
    DirEntry* at = &root;
    for (size_t i = 0; i < levels; ++i) {
        at->children.push_back(Folder(u"d"));
        at = &at->children.back();
    }
    at->children.push_back(File(u"leaf", 0, 1));
    return root;
}

// Tears a deep chain down iteratively so the test's own cleanup does not recurse.
void Flatten(DirEntry& root) {
    std::vector<DirEntry> pending;
    pending.swap(root.children);
    while (!pending.empty()) {
        DirEntry last = std::move(pending.back());
        pending.pop_back();
        for (DirEntry& child : last.children)
            pending.push_back(std::move(child));
        last.children.clear();
    }
}

TEST(ApplyTest, DepthGuardBoundsWalkAndRelinkAndLogsOnce) {
    DirEntry root = DeepTree(kMaxTreeDepth + 50);
    FSAccessTest::LogCapture log;
    root.Relink(nullptr);
    RecordNames visited;
    root.Apply(visited);
    // kMaxTreeDepth levels are visited; the rest (and the leaf) are not.
    EXPECT_EQ(visited.names.size(), kMaxTreeDepth);
    EXPECT_EQ(std::count(visited.names.begin(), visited.names.end(), u"leaf"), 0);
    EXPECT_EQ(log.Count("Apply: tree deeper than 4096 levels"), 1u);
    EXPECT_EQ(log.Count("Relink: tree deeper than 4096 levels"), 1u);

    // Entries within the limit are relinked.
    DirEntry* at = &root;
    for (size_t i = 0; i < kMaxTreeDepth; ++i) {
        ASSERT_EQ(at->children[0].parent, at) << "level " << i;
        at = &at->children[0];
    }
    Flatten(root);
}

TEST(ApplyTest, TreeExactlyAtTheLimitIsWalkedWhole) {
    DirEntry root = DeepTree(kMaxTreeDepth - 1);
    FSAccessTest::LogCapture log;
    root.Relink(nullptr);
    RecordNames visited;
    root.Apply(visited);
    EXPECT_EQ(visited.names.size(), kMaxTreeDepth);
    EXPECT_EQ(visited.names.back(), u"leaf");
    EXPECT_EQ(log.Count("deeper than"), 0u);
    Flatten(root);
}

} // namespace
