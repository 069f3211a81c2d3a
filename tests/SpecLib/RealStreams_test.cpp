// Transport streams as a real muxer writes them (ffmpeg, 192-byte packets),
// copied onto FAT32 by mtools and onto exFAT by the image builder, then the
// card quick-formatted: the search carves each stream back byte for byte.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>

#include "AVCHD_Files.h"
#include "FSSpecExFAT.h"
#include "FSSpecFAT32.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"
#include "support/ExFatImageBuilder.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;
using TestSupport::FindTool;
using TestSupport::RunCommand;

struct Placed {
    std::string bytes;
    uint64_t start = 0;
    uint64_t firstFragment = 0; // bytes before the stream's data jumps elsewhere
};

// The carved entries under the root, by start offset.
std::map<uint64_t, const DirEntry*> CarvedStreams(const DirEntry& root) {
    std::map<uint64_t, const DirEntry*> streams;
    for (const DirEntry& child : root.children)
        if (child.carved && child.name.find(u".MTS") != std::u16string::npos)
            streams[child.start] = &child;
    return streams;
}

class RealStreams : public ::testing::Test {
protected:
    void SetUp() override {
        for (const double seconds : {3.0, 2.0, 2.5, 0.5}) {
            const auto stream = TestSupport::FfmpegStream(dir.Path(), seconds);
            if (!stream)
                GTEST_SKIP() << "ffmpeg is needed";
            streams.push_back({*stream, 0, stream->size()});
        }
        ASSERT_GE(streams[0].bytes.size(), Kalvory::kSmallestPlausibleStream);
        ASSERT_LT(streams[3].bytes.size(), Kalvory::kSmallestPlausibleStream);
    }

    // Searches the quick-formatted card and checks every stream.
    void SearchAndCheck(FSAccessLib::FSAccessBase& reader) {
        reader.ReadAllocationTable();
        reader.ReadRootDirectory();
        DirEntry root;
        EXPECT_EQ(reader.BuildTree(root), 0) << "the format left no file";
        Kalvory::SectorSearcher(reader, root).Run();
        const auto carved = CarvedStreams(root);
        const std::string volume = TestSupport::ReadFileBytes(image);
        for (size_t i = 0; i < streams.size(); ++i) {
            const Placed& placed = streams[i];
            const auto found = carved.find(placed.start);
            ASSERT_NE(found, carved.end()) << "stream " << i;
            const uint64_t expected = placed.firstFragment / 192 * 192;
            EXPECT_EQ(found->second->length, expected) << "stream " << i;
            EXPECT_TRUE(volume.compare(placed.start, expected, placed.bytes, 0, expected) == 0) << "stream " << i;
            EXPECT_EQ(Kalvory::IsPlausibleMts(*reader.stream, placed.start, found->second->length),
                      expected >= Kalvory::kSmallestPlausibleStream)
                << "stream " << i;
        }
    }

    TestSupport::TempDir dir{"kalvory-streams"};
    fs::path image = dir / "card.img";
    std::vector<Placed> streams; // the third is written in two fragments
};

TEST_F(RealStreams, QuickFormattedFat32GivesEveryStreamBack) {
    if (!TestSupport::HaveFatTools())
        GTEST_SKIP() << "mkfs.fat and mtools are needed";
    ImageWriter(image, 40 << 20); // over 65,525 clusters of 512 bytes
    ASSERT_EQ(TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"}).exitCode, 0);
    const auto put = [&](const std::string& name, const std::string& bytes) {
        TestSupport::WriteFileBytes(dir / name, bytes);
        const auto copied = RunCommand({"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-i", image.string(),
                                        (dir / name).string(), "::/" + name});
        ASSERT_EQ(copied.exitCode, 0) << copied.output;
    };
    put("A.MTS", streams[0].bytes);
    put("B.MTS", streams[1].bytes);
    put("GAP.BIN", std::string(700000, '\0'));
    put("AFTER.BIN", std::string(300000, '\0'));
    ASSERT_EQ(RunCommand({"env", "MTOOLS_SKIP_CHECK=1", "mdel", "-i", image.string(), "::/GAP.BIN"}).exitCode, 0);
    std::string bytes = TestSupport::ReadFileBytes(image);
    bytes.replace(512 + 492, 4, std::string(4, '\xFF')); // no next-free hint: C fills the gap first
    TestSupport::WriteFileBytes(image, bytes);
    put("C.MTS", streams[2].bytes);
    put("D.MTS", streams[3].bytes);

    {
        FSAccessLib::FAT32::FSAccessFAT32 before(AAA::FromUtf8(image.string()));
        ASSERT_TRUE(before.Open());
        before.ReadAllocationTable();
        before.ReadRootDirectory();
        DirEntry root;
        before.BuildTree(root);
        for (size_t i = 0; i < streams.size(); ++i) {
            const std::u16string name = std::u16string(1, static_cast<char16_t>(u'A' + i)) + u".MTS";
            for (const DirEntry& file : root.children)
                if (file.name == name) {
                    streams[i].start = file.chain.front().start;
                    streams[i].firstFragment = file.chain.front().length;
                }
        }
        ASSERT_GT(streams[2].bytes.size(), streams[2].firstFragment) << "C must lie in two fragments";
    }
    ASSERT_EQ(TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"}).exitCode, 0);
    FSAccessLib::FAT32::FSAccessFAT32 reader(AAA::FromUtf8(image.string()));
    ASSERT_TRUE(reader.Open());
    SearchAndCheck(reader);
    Restore::SetProgressTotal(0);
}

TEST_F(RealStreams, QuickFormattedExFatGivesEveryStreamBack) {
    const auto mkfs = FindTool("mkfs.exfat");
    if (!mkfs)
        GTEST_SKIP() << "mkfs.exfat is needed";
    TestSupport::ExFatImageBuilder card({.volumeBytes = 128 << 20});
    const uint32_t cs = card.ClusterSize();
    uint32_t next = 2000;
    const auto run = [&](uint64_t bytes) {
        std::vector<uint32_t> clusters;
        for (uint64_t n = 0; n < (bytes + cs - 1) / cs; ++n)
            clusters.push_back(next++);
        return clusters;
    };
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string name = std::string(1, static_cast<char>('A' + i)) + ".MTS";
        TestSupport::ExFatEntryOptions options;
        if (i == 2) { // two fragments, 100 clusters apart
            options.clusters = run(streams[i].bytes.size() / 2);
            next += 100;
            const auto rest = run(streams[i].bytes.size() - options.clusters.size() * cs);
            options.clusters.insert(options.clusters.end(), rest.begin(), rest.end());
            streams[i].firstFragment = uint64_t{streams[i].bytes.size() / 2 + cs - 1} / cs * cs;
        } else {
            options.noFatChain = true;
            options.clusters = run(streams[i].bytes.size());
        }
        streams[i].start = card.ClusterOffset(options.clusters.front());
        card.AddFile(name, streams[i].bytes, options);
        next += 7;
    }
    card.WriteTo(image);
    const auto formatted = RunCommand({*mkfs, image.string()});
    ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
    FSAccessLib::ExFAT::FSAccessExFAT reader(AAA::FromUtf8(image.string()));
    ASSERT_TRUE(reader.Open());
    SearchAndCheck(reader);
    Restore::SetProgressTotal(0);
}

} // namespace
