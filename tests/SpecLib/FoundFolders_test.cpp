// Folders the scan found go back where their slots name them; folders that
// name themselves or each other are never linked into themselves.
#include <gtest/gtest.h>

#include "FoundFolders.h"

namespace {

using FSAccessLib::DirEntry;

DirEntry Found(const std::u16string& name, uint64_t start, std::vector<DirEntry> children) {
    DirEntry folder;
    folder.name = name;
    folder.start = start;
    folder.carved = true;
    folder.children = std::move(children);
    FSAccessLib::MarkFromFoundFolder(folder);
    return folder;
}

DirEntry Folder(const std::u16string& name, uint64_t start) {
    DirEntry folder;
    folder.name = name;
    folder.start = start;
    return folder;
}

DirEntry File(const std::u16string& name, uint64_t start) {
    DirEntry file("", "");
    file.name = name;
    file.start = start;
    file.length = 10;
    return file;
}

TEST(RebuildFoundFolders, FoldersGoBackUnderTheSlotsThatNameThem) {
    DirEntry root;
    // 100CDPFP's cluster lay before DCIM's: it was found first, on its own.
    root.children.push_back(Found(u"5000.dir", 5000, {File(u"IMGA0001.JPG", 9000)}));
    root.children.push_back(Found(u"4000.dir", 4000, {Folder(u"100CDPFP", 5000), Folder(u"101CDPFP", 6000)}));
    root.children.push_back(Found(u"7000.dir", 7000, {Folder(u"AVCHD", 7100)}));
    root.children.push_back(Found(u"8000.dir", 8000, {File(u"NOTES.TXT", 8100)}));
    DirEntry carved = File(u"00009000.JPG", 9000);
    carved.carved = true;
    root.children.push_back(carved);
    root.Relink(nullptr);

    const Kalvory::FoundFolderRebuild result = Kalvory::RebuildFoundFolders(root);
    EXPECT_EQ(result.linked, 1);
    EXPECT_EQ(result.named, 2);
    EXPECT_EQ(result.carvedDropped, 1) << "the found folder's file wins over the carved one";
    ASSERT_EQ(root.children.size(), 3u);
    EXPECT_EQ(root.children[0].name, u"DCIM");
    ASSERT_EQ(root.children[0].children[0].children.size(), 1u);
    EXPECT_EQ(root.children[0].children[0].children[0].FullPath(), u"\\DCIM\\100CDPFP\\IMGA0001.JPG");
    EXPECT_EQ(root.children[1].name, u"PRIVATE");
    EXPECT_EQ(root.children[2].name, u"8000.dir") << "nothing tells what MISC was called";
}

TEST(RebuildFoundFolders, FoldersNamingThemselvesOrEachOtherAreNotLinkedIntoThemselves) {
    DirEntry root;
    root.children.push_back(Found(u"100.dir", 100, {Folder(u"SELF", 100), File(u"A.JPG", 900)}));
    root.children.push_back(Found(u"200.dir", 200, {Folder(u"OTHER", 300)}));
    root.children.push_back(Found(u"300.dir", 300, {Folder(u"BACK", 200), File(u"B.JPG", 950)}));
    root.Relink(nullptr);
    Kalvory::RebuildFoundFolders(root);
    // 200 went into 300's BACK; 300 then finds its slot OTHER inside itself, and stays.
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].name, u"100.dir");
    EXPECT_EQ(root.children[1].name, u"300.dir");
    EXPECT_EQ(root.children[1].children[0].children.size(), 1u);
}

TEST(IsDcfFolderName, ThreeDigitsFromOneHundredThenFiveCharacters) {
    EXPECT_TRUE(Kalvory::IsDcfFolderName(u"100CDPFP"));
    EXPECT_TRUE(Kalvory::IsDcfFolderName(u"999_PANA"));
    EXPECT_FALSE(Kalvory::IsDcfFolderName(u"099CDPFP"));
    EXPECT_FALSE(Kalvory::IsDcfFolderName(u"100cdpfp"));
    EXPECT_FALSE(Kalvory::IsDcfFolderName(u"100CDPF"));
}

} // namespace
