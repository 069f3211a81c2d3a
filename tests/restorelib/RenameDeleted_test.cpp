// Rebuilding the names of entries whose first character a deletion destroyed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "AAA_DebugLog.h"
#include "Kalvory_Recover.h"

namespace {

using FSAccessLib::DirEntry;

DirEntry Folder(const std::u16string& name) {
    DirEntry entry;
    entry.name = name;
    return entry;
}

DirEntry File(const std::u16string& name, bool deleted = true) {
    DirEntry entry("X", "");
    entry.name = name;
    entry.deleted = deleted;
    return entry;
}

// root -> parents... -> leaf; returns the leaf after relinking.
struct Tree {
    DirEntry root;
    DirEntry& Add(std::initializer_list<std::u16string> folders, DirEntry leaf) {
        DirEntry* at = &root;
        for (const auto& name : folders) {
            at->children.push_back(Folder(name));
            at = &at->children.back();
        }
        at->children.push_back(std::move(leaf));
        root.Relink(nullptr);
        return at->children.back();
    }
};

DirEntry DeletedFolder(const std::u16string& name) {
    DirEntry entry = Folder(name);
    entry.deleted = true;
    return entry;
}

TEST(RebuildDeletedName, DcfFoldersGetTheirLeadingDigitBack) {
    Tree tree;
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM"}, DeletedFolder(u"!00CDPFP"))), u"100CDPFP");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM"}, DeletedFolder(u"!23CDPFQ"))), u"123CDPFQ");
    // A folder that was 223CDPFR comes back as 123CDPFR: the hundreds digit is lost.
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM"}, DeletedFolder(u"!23CDPFR"))), u"123CDPFR");
}

TEST(RebuildDeletedName, DcfFilesGetTheirPrefixBack) {
    Tree tree;
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM", u"100CDPFP"}, File(u"!MGA0012.JPG"))), u"IMGA0012.JPG");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM", u"100CDPFP"}, File(u"!MGA9999.JPG"))), u"IMGA9999.JPG");
}

TEST(RebuildDeletedName, UnmatchedNamesFallBackToALeadingZero) {
    Tree tree;
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM", u"100CDPFP"}, File(u"!OO.JPG"))), u"0OO.JPG");
    // Number 0 is outside the DCF file range 1..9999.
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM", u"100CDPFP"}, File(u"!MGA0000.JPG"))), u"0MGA0000.JPG");
    // A file never matches a folder rule and the other way round.
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"DCIM"}, File(u"!00CDPFP"))), u"000CDPFP");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"PRIVATE", u"AVCHD", u"BDMV"}, File(u"!0001.MTS"))), u"00001.MTS");
}

TEST(RebuildDeletedName, RootAndPrivateTables) {
    Tree tree;
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({}, DeletedFolder(u"!RIVATE"))), u"PRIVATE");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({}, DeletedFolder(u"!CIM"))), u"DCIM");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"PRIVATE"}, File(u"!NDEX.BDM"))), u"INDEX.BDM");
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"PRIVATE", u"AVCHD"}, DeletedFolder(u"!DMV"))), u"BDMV");
    // The table is for folders: a file named like one falls back.
    EXPECT_EQ(Kalvory::RebuildDeletedName(tree.Add({u"PRIVATE"}, File(u"!TREAM"))), u"0TREAM");
}

TEST(CommandRenameDeleted, RenamesDeletedEntriesAndTrashesFolders) {
    Tree tree;
    tree.Add({u"DCIM"}, DeletedFolder(u"!00CDPFP"));
    tree.Add({}, Folder(u".Trashes"));
    tree.Add({}, Folder(u".TRASHES"));
    tree.Add({u"DCIM"}, Folder(u"!01CDPFP")); // not deleted: left alone
    Kalvory::CommandRenameDeleted rename;
    tree.root.Apply(rename);
    EXPECT_EQ(tree.root.children[0].children[0].name, u"100CDPFP");
    EXPECT_EQ(tree.root.children[3].children[0].name, u"!01CDPFP"); // Add makes a second DCIM
    EXPECT_EQ(tree.root.children[1].name, u"Kalvory.Trashes");
    EXPECT_EQ(tree.root.children[2].name, u".TRASHES");
}

TEST(CommandRenameDeleted, LogsOneLinePerRename) {
    Tree tree;
    tree.Add({u"DCIM"}, DeletedFolder(u"!00CDPFP"));
    std::FILE* log = std::tmpfile();
    ASSERT_NE(log, nullptr);
    AAA::SetLogSink(log);
    AAA::LogThreshold = 8;
    Kalvory::CommandRenameDeleted rename;
    tree.root.Apply(rename);
    AAA::LogThreshold = 0;
    AAA::SetLogSink(nullptr);
    std::rewind(log);
    char buffer[256] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, log);
    std::fclose(log);
    EXPECT_EQ(std::string(buffer, n), "Rename: !00CDPFP\t->\t100CDPFP\n");
}

} // namespace
