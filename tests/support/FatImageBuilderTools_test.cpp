// The FAT image builder checked by dosfstools and mtools: its volumes pass fsck
// and read back exactly, and each damage knob is flagged.
#include "support/FatBuilderTestTools.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace TestSupport {
namespace {

using namespace FatBuilderTest;

// ---------------------------------------------------------------------------
// Cross-checks with dosfstools and mtools.

// A card with what the recovery has to cope with: nested folders, long names,
// a fragmented file, a folder spanning clusters, deleted files and folders.
FatImageBuilder RichVolume(FatType type) {
    const std::uint32_t cs = ClusterSize(type);
    FatImageBuilder builder(FatVolumeOptions::Defaults(type));
    builder.AddFile("DCIM/100MEDIA/MOV001.MOD", Pattern(3 * cs + cs / 2, 11));
    builder.AddFile("DCIM/100MEDIA/MOV002.MOD", Pattern(2 * cs, 12));
    builder.AddFile("DCIM/100MEDIA/clip with a long name.mts", Pattern(cs + 1, 13));
    builder.AddFile("PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", Pattern(5 * cs, 14));
    builder.AddFile("FRAG.BIN", Pattern(3 * cs + 100, 15), {.clusters = {300, 301, 200, 250}});
    builder.AddFile("EMPTY.TXT", "");
    for (int i = 0; i < 40; ++i) builder.AddFile("MANY/photo number " + std::to_string(i) + ".jpg", Pattern(100, 16 + i));
    builder.AddFile("OLD/gone 1.txt", Pattern(cs, 70));
    builder.AddFile("OLD/GONE2.TXT", Pattern(10, 71));
    builder.AddFile("DCIM/100MEDIA/MOV003.MOD", Pattern(cs, 72));
    builder.DeleteEntry("DCIM/100MEDIA/MOV002.MOD");
    builder.DeleteEntry("OLD");
    builder.AddFile("a deleted long name.txt", Pattern(cs * 2, 73));
    builder.DeleteEntry("a deleted long name.txt");
    builder.DeleteEntry("DCIM/100MEDIA/MOV003.MOD");
    builder.AddFile("DCIM/100MEDIA/MOV003.MOD", Pattern(cs, 74));  // recorded again
    return builder;
}

class FatToolsCheck : public ::testing::TestWithParam<FatType> {
protected:
    void SetUp() override {
        if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat or mtools not installed";
    }

    std::filesystem::path Write(const FatImage& image, const std::string& name = "card.img") {
        const auto path = dir_ / name;
        image.WriteTo(path);
        return path;
    }

    // Proves a damage knob works: fsck.fat accepts the image before and
    // reports a problem after.
    void ExpectFsckFlags(FatImage image, const std::function<void(FatImage&)>& damage) {
        const CommandResult before = FsckFat(Write(image));
        ASSERT_EQ(before.exitCode, 0) << before.output;
        damage(image);
        const CommandResult after = FsckFat(Write(image));
        EXPECT_NE(after.exitCode, 0) << after.output;
    }

    TempDir dir_{"fatimg"};
};

TEST_P(FatToolsCheck, FsckAcceptsTheRichVolume) {
    const FatImage image = RichVolume(GetParam()).Build();
    const CommandResult result = FsckFat(Write(image));
    EXPECT_EQ(result.exitCode, 0) << result.output;
}

TEST_P(FatToolsCheck, MtoolsReadsBackEveryLiveFileExactly) {
    const FatImage image = RichVolume(GetParam()).Build();
    const auto path = Write(image);
    int files = 0;
    for (const FatEntryInfo& entry : image.Entries()) {
        if (entry.folder || entry.deleted) continue;
        ++files;
        const auto copied = McopyOut(path, entry.path, dir_ / "out.bin");
        ASSERT_TRUE(copied.has_value()) << entry.path;
        EXPECT_EQ(*copied, std::string(entry.data.begin(), entry.data.end())) << entry.path;
    }
    EXPECT_EQ(files, 46);
    const CommandResult typed = Mtype(path, "DCIM/100MEDIA/MOV003.MOD");
    EXPECT_EQ(typed.output, std::string(image.Entry("DCIM/100MEDIA/MOV003.MOD").data.begin(),
                                        image.Entry("DCIM/100MEDIA/MOV003.MOD").data.end()));
}

TEST_P(FatToolsCheck, MtoolsListsLiveNamesButNoDeletedOnes) {
    const FatImage image = RichVolume(GetParam()).Build();
    const auto path = Write(image);
    const CommandResult listing = MdirRecursive(path);
    ASSERT_EQ(listing.exitCode, 0) << listing.output;
    std::set<std::string> listed;
    std::stringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("::/", 0) == 0) listed.insert(line);
    std::set<std::string> live;
    for (const FatEntryInfo& entry : image.Entries())
        if (entry.id != 0 && !entry.deleted) live.insert("::/" + entry.path + (entry.folder ? "/" : ""));
    EXPECT_EQ(listed, live);
    EXPECT_EQ(live.count("::/DCIM/100MEDIA/MOV002.MOD"), 0u);
    EXPECT_EQ(live.count("::/OLD/"), 0u);
    EXPECT_NE(Mdir(path).output.find("Volume in drive : is KALVORY"), std::string::npos) << Mdir(path).output;
}

TEST_P(FatToolsCheck, FsckFlagsAFatLoop) {
    const FatImage image = RichVolume(GetParam()).Build();
    ExpectFsckFlags(image, [](FatImage& i) { i.SetFatEntry(250, 300); });
}

TEST_P(FatToolsCheck, FsckFlagsAChainPointingPastTheTable) {
    const FatImage image = RichVolume(GetParam()).Build();
    ExpectFsckFlags(image, [](FatImage& i) { i.SetFatEntry(250, i.Layout().clusterCount + 5); });
}

TEST_P(FatToolsCheck, FsckFlagsDifferentTableCopies) {
    const FatImage image = RichVolume(GetParam()).Build();
    ExpectFsckFlags(image, [](FatImage& i) { i.SetFatEntryInCopy(1, 200, 0); });
}

TEST_P(FatToolsCheck, FsckFlagsACorruptSlot) {
    const FatImage image = RichVolume(GetParam()).Build();
    ExpectFsckFlags(image, [](FatImage& i) { i.CorruptSlot("DCIM/100MEDIA/MOV001.MOD"); });
}

TEST_P(FatToolsCheck, FsckFlagsASizeBeyondTheChain) {
    FatImageBuilder builder = RichVolume(GetParam());
    ExpectFsckFlags(builder.Build(), [&](FatImage& i) {
        builder.AddFile("LIAR.BIN", Pattern(100, 80), {.sizeField = 10 * ClusterSize(GetParam())});
        i = builder.Build();
    });
}

TEST_P(FatToolsCheck, FsckFlagsDeletedClustersLeftAllocated) {
    FatImageBuilder builder = RichVolume(GetParam());
    ExpectFsckFlags(builder.Build(), [&](FatImage& i) {
        builder.DeleteEntry("FRAG.BIN", {.freeClusters = false});
        i = builder.Build();
    });
}

INSTANTIATE_TEST_SUITE_P(AllTypes, FatToolsCheck,
                         ::testing::Values(FatType::Fat12, FatType::Fat16, FatType::Fat32), TypeName);

TEST(FatToolsCheckFat32, FsckFlagsAWrongFsInfoCount) {
    if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat or mtools not installed";
    TempDir dir("fatimg");
    FatImage image = RichVolume(FatType::Fat32).Build();
    image.SetFsInfo(Le(image, 512 + 488, 4) - 3, 2);
    image.WriteTo(dir / "card.img");
    const CommandResult result = FsckFat(dir / "card.img");
    EXPECT_NE(result.output.find("Free cluster summary wrong"), std::string::npos) << result.output;
}

TEST(MtoolsHelpers, QuoteAwkwardPathsAndReportExitCodes) {
    if (!HaveFatTools()) GTEST_SKIP() << "fsck.fat or mtools not installed";
    TempDir dir("fatimg");
    const auto image = dir / "it's a card.img";
    WriteFileBytes(image, std::string(4u << 20, '\0'));
    const CommandResult made = MkfsFat(image, {"-F", "16", "-s", "1", "-n", "FRESH"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    EXPECT_EQ(FsckFat(image).exitCode, 0);
    EXPECT_NE(Mdir(image).output.find("FRESH"), std::string::npos);
    EXPECT_FALSE(McopyOut(image, "MISSING.TXT", dir / "x").has_value());
    EXPECT_NE(RunCommand({"false"}).exitCode, 0);
}

} // namespace
} // namespace TestSupport
