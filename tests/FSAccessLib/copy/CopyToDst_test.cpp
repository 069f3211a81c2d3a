#include <gtest/gtest.h>

#include <chrono>

#include "AAA_Exceptions.h"
#include "FSAccessCommon.h"
#include "FSAccessLib/copy/CopyTestHelpers.h"
#include "FSAccessLib/TreeTestHelpers.h"

using namespace FSAccessLib;
using FSAccessTest::CopyScene;
using FSAccessTest::File;
using FSAccessTest::Folder;
using TestSupport::ReadFileBytes;
namespace fs = std::filesystem;

namespace {

const std::string kImage = FSAccessTest::PatternImage();

DirEntry Target(DirEntry entry) {
    entry.target = true;
    return entry;
}

TEST(CopyToDstTest, CopiesFoldersFilesAndChainsAndSkipsNonTargets) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    DirEntry root;
    root.children.push_back(Target(Folder(u"DCIM")));
    root.children[0].children.push_back(Target(File(u"A.JPG", 100, 50)));
    DirEntry chained = Target(File(u"B.MTS", 0, 0));
    chained.chain.emplace_back(1000, 10, nullptr);
    chained.chain.emplace_back(200, 5, nullptr);
    root.children[0].children.push_back(chained);
    root.children.push_back(File(u"SKIPPED", 0, 10));
    root.Relink(nullptr);

    FSAccessTest::LogCapture log;
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    root.Apply(copy);

    EXPECT_TRUE(fs::is_directory(scene.Out() / "DCIM"));
    EXPECT_EQ(ReadFileBytes(scene.Out() / "DCIM" / "A.JPG"), kImage.substr(100, 50));
    EXPECT_EQ(ReadFileBytes(scene.Out() / "DCIM" / "B.MTS"), kImage.substr(1000, 10) + kImage.substr(200, 5));
    EXPECT_FALSE(fs::exists(scene.Out() / "SKIPPED"));
    const std::string out = scene.Out().string();
    EXPECT_EQ(log.Count("COPYING\tStart=0x0000000000000064, Size=0x00000032, File=" + out + "\\DCIM\\A.JPG\n"), 1u);
    EXPECT_EQ(log.Count("SKIP...\tStart=0x0000000000000000, Size=0x0000000A, File=" + out + "\\SKIPPED\n"), 1u);
    EXPECT_EQ(log.Count("COPYING\t"), 3u);
}

TEST(CopyToDstTest, NeverOverwritesExistingFiles) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    TestSupport::WriteFileBytes(scene.Out() / "A.JPG", "OLD");
    TestSupport::WriteFileBytes(scene.Out() / "B.MTS", "OLDER");
    DirEntry root;
    root.children.push_back(Target(File(u"A.JPG", 0, 100)));
    DirEntry chained = Target(File(u"B.MTS", 0, 0));
    chained.chain.emplace_back(0, 100, nullptr);
    chained.holdTail = true;
    root.children.push_back(chained);
    root.Relink(nullptr);
    FSAccessTest::LogCapture log;
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    root.Apply(copy);
    EXPECT_EQ(ReadFileBytes(scene.Out() / "A.JPG"), "OLD");
    EXPECT_EQ(ReadFileBytes(scene.Out() / "B.MTS"), "OLDER");
    EXPECT_EQ(log.Count("COPYING\t"), 2u);
    EXPECT_EQ(log.Count("ADD"), 0u);
}

TEST(CopyToDstTest, ExtentsBeyondTheMediumAreSkippedWithALogLine) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    const uint64_t media = 3000;
    DirEntry root;
    root.children.push_back(Target(File(u"FITS", 2000, 1000)));    // ends exactly at the medium's end
    root.children.push_back(Target(File(u"ONEMORE", 2000, 1001))); // one byte beyond
    root.children.push_back(Target(File(u"WRAPS", ~0ull - 10, 20))); // start + length wraps past 2^64
    DirEntry chained = Target(File(u"CHAIN", 0, 0));
    chained.chain.emplace_back(10, 10, nullptr);
    chained.chain.emplace_back(2999, 2, nullptr); // beyond: skipped, the file is shorter
    chained.chain.emplace_back(30, 10, nullptr);
    root.children.push_back(chained);
    root.Relink(nullptr);

    FSAccessTest::LogCapture log;
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), media);
    root.Apply(copy);
    EXPECT_EQ(ReadFileBytes(scene.Out() / "FITS"), kImage.substr(2000, 1000));
    EXPECT_FALSE(fs::exists(scene.Out() / "ONEMORE"));
    EXPECT_FALSE(fs::exists(scene.Out() / "WRAPS"));
    EXPECT_EQ(ReadFileBytes(scene.Out() / "CHAIN"), kImage.substr(10, 10) + kImage.substr(30, 10));
    EXPECT_EQ(log.Count("\t->Out of media range.\n"), 3u);
    const std::string text = log.Text();
    EXPECT_LT(text.find("ONEMORE\n"), text.find("\t->Out of media range.\n"));
}

TEST(CopyToDstTest, HoldTailRepeatsTheLastTwoBytesFourTimes) {
    FSAccessTest::ProgressReset reset;
    std::string image = kImage;
    image[598] = 0x12;
    image[599] = 0x34;
    CopyScene scene(image);
    DirEntry root;
    DirEntry held = Target(File(u"HELD.MTS", 0, 0));
    held.chain.emplace_back(0, 100, nullptr);
    held.chain.emplace_back(500, 100, nullptr);
    held.holdTail = true;
    root.children.push_back(held);
    root.Relink(nullptr);
    FSAccessTest::LogCapture log;
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), image.size());
    root.Apply(copy);
    const std::string copied = ReadFileBytes(scene.Out() / "HELD.MTS");
    ASSERT_EQ(copied.size(), 208u);
    EXPECT_EQ(copied.substr(0, 200), image.substr(0, 100) + image.substr(500, 100));
    EXPECT_EQ(copied.substr(198), std::string("\x12\x34\x12\x34\x12\x34\x12\x34\x12\x34"));
    EXPECT_EQ(log.Count("\tADD 2 bytes hold\n"), 1u);
}

TEST(CopyToDstTest, HoldTailWithoutTwoBytesToReadAddsNothing) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    DirEntry root;
    DirEntry tiny = Target(File(u"TINY", 0, 0));
    tiny.chain.emplace_back(0, 1, nullptr); // ends at 1: no two bytes end there
    tiny.holdTail = true;
    root.children.push_back(tiny);
    root.Relink(nullptr);
    FSAccessTest::LogCapture log;
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size() + 1000);
    root.Apply(copy);
    EXPECT_EQ(ReadFileBytes(scene.Out() / "TINY"), kImage.substr(0, 1));
    EXPECT_EQ(log.Count("ADD"), 0u);
}

// A source that raises the cancel flag after its first read, like a user
// pressing cancel in the middle of a copy.
// Raises the cancel flag at the first destination write: the first checkpoint
// of a copy is the source seek, the second the write (or in-kernel transfer).
int checkpointsSeen = 0;
void CancelAtSecondCheckpoint(Restore::JobProgress& job) {
    if (++checkpointsSeen == 2)
        job.cancel = 1;
}

TEST(CopyToDstTest, CancellationDeletesThePartialFileAndEndsTheWalk) {
    for (bool chained : {false, true}) {
        FSAccessTest::ProgressReset reset;
        CopyScene scene(kImage);
        Restore::JobProgress job;
        Restore::CurrentJob = &job;
        Restore::SetProgressTotal(1000);
        checkpointsSeen = 0;
        job.checkpoint = &CancelAtSecondCheckpoint;
        DirEntry root;
        DirEntry first = Target(File(u"FIRST", 0, 100));
        if (chained)
            first.chain.emplace_back(0, 100, nullptr);
        root.children.push_back(first);
        root.children.push_back(Target(File(u"SECOND", 0, 100)));
        root.Relink(nullptr);
        FSAccessTest::LogCapture log;
        CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
        EXPECT_THROW(root.Apply(copy), AAA::CancellationException);
        EXPECT_EQ(checkpointsSeen, 2) << "cancelled at the first write";
        EXPECT_FALSE(fs::exists(scene.Out() / "FIRST")) << chained;
        EXPECT_FALSE(fs::exists(scene.Out() / "SECOND")) << chained;
        EXPECT_EQ(log.Count("\nCANCELED\n"), 1u);
        EXPECT_EQ(log.Count("COPYING\t"), 1u);
    }
}

TEST(CopyToDstTest, CancelRequestedBeforeTheCopyLeavesNoFile) {
    FSAccessTest::ProgressReset reset;
    CopyScene scene(kImage);
    TestSupport::WriteFileBytes(scene.Out() / "DONE", "kept");
    Restore::JobProgress job;
    job.cancel = 1;
    Restore::CurrentJob = &job;
    Restore::SetProgressTotal(1000);
    DirEntry root;
    DirEntry chained = Target(File(u"CHAIN", 0, 0));
    chained.chain.emplace_back(0, 10, nullptr);
    root.children.push_back(Target(File(u"DONE", 0, 10)));
    root.children.push_back(chained);
    root.Relink(nullptr);
    CommandCopyToDst copy(scene.Destination(), scene.source.get(), kImage.size());
    EXPECT_THROW(root.Apply(copy), AAA::CancellationException);
    EXPECT_FALSE(fs::exists(scene.Out() / "CHAIN"));
    EXPECT_EQ(ReadFileBytes(scene.Out() / "DONE"), "kept");
}

} // namespace
