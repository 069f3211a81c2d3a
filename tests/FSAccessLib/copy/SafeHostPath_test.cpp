#include <gtest/gtest.h>

#include <set>

#include "FSAccessCommon.h"
#include "FSAccessLib/copy/CopyTestHelpers.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using FSAccessTest::File;
using FSAccessTest::Folder;
namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

TEST(SafeHostComponentTest, ReplacesSeparatorsControlsAndBrokenSurrogates) {
    EXPECT_EQ(SafeHostComponent(u"IMGA0001.JPG"), u"IMGA0001.JPG");
    EXPECT_EQ(SafeHostComponent(u"a/b"), u"a_b");
    EXPECT_EQ(SafeHostComponent(u"..\\..\\x"), u".._.._x");
    EXPECT_EQ(SafeHostComponent(u"\0x"s), u"_x");
    EXPECT_EQ(SafeHostComponent(u"tab\there\x7F\x9F"), u"tab_here__");
    EXPECT_EQ(SafeHostComponent(u"\xD800"), u"_");
    EXPECT_EQ(SafeHostComponent(u"a\xDC00" u"b"), u"a_b");
    EXPECT_EQ(SafeHostComponent(u"\xD83D\xDE00"), u"\xD83D\xDE00"); // a proper pair stays
    EXPECT_EQ(SafeHostComponent(u"\xDE00\xD83D"), u"__");           // reversed pair does not
    EXPECT_EQ(SafeHostComponent(u"\xFF82\xFFE5"), u"\xFF82\xFFE5"); // widened short-name bytes stay
}

TEST(SafeHostComponentTest, EmptyAndDotNamesArePrefixed) {
    EXPECT_EQ(SafeHostComponent(u""), u"_");
    EXPECT_EQ(SafeHostComponent(u"."), u"_.");
    EXPECT_EQ(SafeHostComponent(u".."), u"_..");
    EXPECT_EQ(SafeHostComponent(u"..."), u"...");
    EXPECT_EQ(SafeHostComponent(u".hidden"), u".hidden");
    EXPECT_EQ(SafeHostComponent(u"/"), u"_");
}

TEST(SafeHostComponentTest, CapsAt255Utf8BytesOnACharacterBoundary) {
    EXPECT_EQ(SafeHostComponent(std::u16string(300, u'a')), std::u16string(255, u'a'));
    EXPECT_EQ(SafeHostComponent(std::u16string(255, u'a')), std::u16string(255, u'a'));
    // Two-byte characters: 127 fit (254 bytes), the 128th would not.
    EXPECT_EQ(SafeHostComponent(std::u16string(200, u'\u00E9')), std::u16string(127, u'\u00E9'));
    // Surrogate pairs (4 bytes each) after 253 ASCII bytes: the pair does not fit and is not split.
    const std::u16string mixed = std::u16string(253, u'a') + u"\xD83D\xDE00\xD83D\xDE00";
    const std::u16string capped = SafeHostComponent(mixed);
    EXPECT_EQ(capped, std::u16string(253, u'a'));
    for (size_t ascii = 240; ascii < 256; ++ascii) {
        std::u16string name = std::u16string(ascii, u'a');
        for (int i = 0; i < 10; ++i)
            name += u"\xD83D\xDE00\u20AC";
        const std::u16string safe = SafeHostComponent(name);
        EXPECT_TRUE(AAA::IsWellFormedUtf16(safe)) << ascii;
        EXPECT_LE(AAA::ToUtf8(safe).size(), 255u) << ascii;
        EXPECT_GE(AAA::ToUtf8(safe).size(), 252u) << ascii;
    }
}

TEST(SafeHostPathTest, OneComponentPerLevelBelowTheRoot) {
    DirEntry root;
    root.children.push_back(Folder(u"a\\b"));
    root.children[0].children.push_back(File(u"..", 0, 1));
    root.Relink(nullptr);
    EXPECT_EQ(SafeHostPath(u"/dst", root), u"/dst");
    EXPECT_EQ(SafeHostPath(u"/dst", root.children[0]), u"/dst/a_b");
    EXPECT_EQ(SafeHostPath(u"/dst/", root.children[0].children[0]), u"/dst/a_b/_..");
    // The display path keeps the names as they are.
    EXPECT_EQ(root.children[0].children[0].FullPath(), u"\\a\\b\\..");
}

std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& item : fs::directory_iterator(folder))
        names.insert(item.path().filename().string());
    return names;
}

TEST(SafeCopyTest, HostileNamesStayInsideTheDestination) {
    FSAccessTest::ProgressReset reset;
    const std::string image = FSAccessTest::PatternImage();
    FSAccessTest::CopyScene scene(image);
    const std::set<std::string> parentBefore = Listing(scene.temp.Path());

    auto target = [](DirEntry entry) {
        entry.target = true;
        return entry;
    };
    DirEntry root;
    const std::u16string hostileNames[] = {u".", u"", u"a/b", u"..\\..\\x", u"\0x"s, u"\xD800", u"/"};
    uint64_t offset = 0;
    for (const std::u16string& name : hostileNames)
        root.children.push_back(target(File(name, offset += 16, 8)));
    // Hostile folders with hostile files inside, one of them a chain.
    root.children.push_back(target(Folder(u"..")));
    root.children.back().children.push_back(target(File(u"..", 100, 8)));
    DirEntry chained = target(File(u"../../escape", 0, 0));
    chained.chain.emplace_back(200, 8, nullptr);
    root.children.back().children.push_back(chained);
    root.children.push_back(target(Folder(u"..\\..")));
    root.children.back().children.push_back(target(File(u"\xDC00", 300, 8)));
    root.Relink(nullptr);

    CommandCopyToDst copy(scene.Destination(), scene.source.get(), image.size());
    root.Apply(copy);

    EXPECT_EQ(Listing(scene.temp.Path()), parentBefore);
    const fs::path out = fs::canonical(scene.Out());
    size_t created = 0;
    for (const auto& item : fs::recursive_directory_iterator(out)) {
        const fs::path real = fs::canonical(item.path());
        const auto [end, unused] = std::mismatch(out.begin(), out.end(), real.begin());
        EXPECT_EQ(end, out.end()) << real;
        ++created;
    }
    EXPECT_EQ(Listing(out),
              (std::set<std::string>{"_..", "_.", "_", "_ (2)", "_ (3)", "a_b", ".._.._x", "_x", ".._.."}));
    EXPECT_EQ(Listing(out / "_.."), (std::set<std::string>{"_..", ".._.._escape"}));
    EXPECT_EQ(Listing(out / ".._.."), (std::set<std::string>{"_"}));
    EXPECT_EQ(created, 12u);
    // "", "\xD800" and "/" all map to "_": each is kept, numbered in walk order.
    EXPECT_EQ(TestSupport::ReadFileBytes(out / "_"), image.substr(32, 8));
    EXPECT_EQ(TestSupport::ReadFileBytes(out / "_ (2)"), image.substr(96, 8));
    EXPECT_EQ(TestSupport::ReadFileBytes(out / "_ (3)"), image.substr(112, 8));
    EXPECT_EQ(TestSupport::ReadFileBytes(out / "_.." / ".._.._escape"), image.substr(200, 8));
}

TEST(SafeCopyTest, LongNamesAreCappedAndTheirCollisionsNumberedWithinTheCap) {
    FSAccessTest::ProgressReset reset;
    const std::string image = FSAccessTest::PatternImage();
    FSAccessTest::CopyScene scene(image);
    DirEntry root;
    root.children.push_back(File(std::u16string(300, u'L') + u"1", 0, 4));
    root.children.push_back(File(std::u16string(300, u'L') + u"2", 50, 4));
    for (DirEntry& child : root.children)
        child.target = true;
    root.Relink(nullptr);
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), image.size());
    root.Apply(copy);
    const std::string numbered = std::string(251, 'L') + " (2)";
    EXPECT_EQ(Listing(scene.Out()), (std::set<std::string>{std::string(255, 'L'), numbered}));
    EXPECT_EQ(TestSupport::ReadFileBytes(scene.Out() / std::string(255, 'L')), image.substr(0, 4));
    EXPECT_EQ(TestSupport::ReadFileBytes(scene.Out() / numbered), image.substr(50, 4));
}

} // namespace
