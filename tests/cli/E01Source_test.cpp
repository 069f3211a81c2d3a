// E01 images made by ewfacquire from a card image, read through libewf. The
// real binary recovers from the E01 exactly what it recovers from the raw
// image; a set with a segment missing or cut short, or a file that is no E01,
// is refused with a message naming the file and nothing is written; a chunk
// whose checksum fails costs only its own bytes. The stream itself answers
// every seek and read as the raw image would, and the segment names follow
// libewf's own scheme.
#include <gtest/gtest.h>

#include <algorithm>
#include <libewf.h>
#include <random>

#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "CliTestSupport.h"
#include "EwfSegments.h"
#include "EwfStream.h"
#include "support/MtoolsHelpers.h"
#include "support/PartitionedCard.h"
#include "support/SmallCards.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace CliTest;

constexpr size_t kFileBytes = 200 * 1024; // six 32 KiB chunks and more per file
constexpr int kFiles = 6;
constexpr uint64_t kChunkBytes = 64 * 512; // ewfacquire's default

std::string RandomBytes(std::mt19937& random, size_t count) {
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

class E01Source : public ::testing::Test {
protected:
    void SetUp() override {
        const auto tool = TestSupport::FindTool("ewfacquire");
        if (!tool)
            GTEST_SKIP() << "ewfacquire (ewf-tools) is needed";
        std::mt19937 random(23);
        std::vector<TestSupport::CardItem> items{{"MISC", "", true}};
        for (int n = 1; n <= kFiles; ++n)
            items.push_back({"MISC/FILE" + std::to_string(n) + ".BIN", RandomBytes(random, kFileBytes)});
        for (const auto& item : items)
            if (!item.folder)
                cardFiles[item.path] = item.data;
        const TestSupport::SmallCard card = TestSupport::BuildSmallCard(TestSupport::CardSystem::Fat16, items);
        TestSupport::WriteFileBytes(raw, std::string(card.bytes.begin(), card.bytes.end()));
        fs::create_directory(dir / "e01");
        // Segments of 1 MiB, the least ewfacquire writes: the 2.2 MB card takes three.
        const auto made = TestSupport::RunCommand({*tool, "-u", "-q", "-c", "none", "-S", "1MiB", "-t",
                                                   (dir / "e01/card").string(), raw.string()});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        ASSERT_TRUE(fs::exists(Segment(3))) << "the card must span three segments";
    }

    fs::path Segment(int number) const { return dir / ("e01/card.E0" + std::to_string(number)); }

    Outcome Recover(const fs::path& source, const std::string& into) {
        return RunKalvory({"recover", source.string(), (dir / into).string()}, dir.Path());
    }

    // A copy of the segments into `folder` without segment `left` (0: all).
    fs::path CopySet(const std::string& folder, int left) const {
        fs::create_directory(dir / folder);
        for (int n = 1; n <= 3; ++n)
            if (n != left)
                fs::copy_file(Segment(n), dir / folder / Segment(n).filename());
        return dir / folder / "card.E01";
    }

    void ExpectRefused(const fs::path& source, const std::string& into, const std::string& named) {
        const Outcome outcome = Recover(source, into);
        EXPECT_EQ(outcome.exitCode, 3) << outcome.err;
        EXPECT_NE(outcome.err.find(named), std::string::npos) << outcome.err;
        EXPECT_TRUE(!fs::exists(dir / into) || fs::is_empty(dir / into)) << "nothing is written";
    }

    TestSupport::TempDir dir{"kalvory-e01"};
    fs::path raw = dir / "card.img";
    std::map<std::string, std::string> cardFiles;
};

TEST_F(E01Source, RecoversWhatTheRawImageGivesAndLeavesTheSegmentsAsTheyWere) {
    std::vector<std::string> segmentsBefore;
    for (int n = 1; n <= 3; ++n)
        segmentsBefore.push_back(ReadText(Segment(n)));

    const Outcome fromRaw = Recover(raw, "raw-out");
    const Outcome fromE01 = Recover(Segment(1), "e01-out");
    ASSERT_EQ(fromRaw.exitCode, 0) << fromRaw.err;
    ASSERT_EQ(fromE01.exitCode, 0) << fromE01.err;
    const auto recovered = RecoveredFilesUnder(dir / "e01-out");
    EXPECT_TRUE(recovered == RecoveredFilesUnder(dir / "raw-out"));
    EXPECT_TRUE(recovered == cardFiles) << recovered.size() << " files";

    for (int n = 1; n <= 3; ++n)
        EXPECT_TRUE(ReadText(Segment(n)) == segmentsBefore[n - 1]) << Segment(n);
}

// The E01 of a whole card: its partition table is read through the image.
TEST_F(E01Source, AWholeCardsImageGivesWhatItsVolumeGives) {
    const std::string volume = ReadText(raw);
    TestSupport::WriteFileBytes(dir / "whole.img", TestSupport::BuildWholeCard(TestSupport::TableKind::Mbr,
                                                                             8192 + volume.size() / 512 + 64,
                                                                             {{8192, volume, 0x06}}));
    fs::create_directory(dir / "whole");
    const auto made = TestSupport::RunCommand({*TestSupport::FindTool("ewfacquire"), "-u", "-q", "-c", "none", "-t",
                                               (dir / "whole/card").string(), (dir / "whole.img").string()});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const Outcome outcome = Recover(dir / "whole/card.E01", "whole-out");
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("partition 1 was read"), std::string::npos) << outcome.out;
    EXPECT_TRUE(RecoveredFilesUnder(dir / "whole-out") == cardFiles);
}

TEST_F(E01Source, AnIncompleteOrForeignSetIsRefusedNamingTheFile) {
    // The middle segment gone: libewf's glob stops before it, the next one shows the gap.
    ExpectRefused(CopySet("gap", 2), "gap-out", "card.E02 is missing");
    // The last segment gone: nothing tells it from a set cut after card.E02.
    ExpectRefused(CopySet("short", 3), "short-out", "card.E02 is cut short or");
    const fs::path cut = CopySet("cut", 0);
    fs::resize_file(dir / "cut/card.E03", fs::file_size(dir / "cut/card.E03") / 2);
    ExpectRefused(cut, "cut-out", "card.E03 is cut short or " + (dir / "cut/card.E04").string() + " is missing");
    fs::create_directory(dir / "foreign");
    fs::copy_file(raw, dir / "foreign/card.E01");
    ExpectRefused(dir / "foreign/card.E01", "foreign-out", "card.E01 cannot be read as an E01 image");
}

TEST_F(E01Source, AChunkFailingItsChecksumCostsOnlyItsOwnBytes) {
    const std::string& victim = cardFiles.at("MISC/FILE3.BIN");
    const size_t middle = kFileBytes / 2;
    const std::string needle = victim.substr(middle, 64);
    const fs::path source = CopySet("damaged", 0);
    bool flipped = false;
    for (int n = 1; n <= 3 && !flipped; ++n) {
        const fs::path segment = dir / "damaged" / Segment(n).filename();
        std::string bytes = ReadText(segment);
        const size_t at = bytes.find(needle);
        if (at == std::string::npos)
            continue;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        TestSupport::WriteFileBytes(segment, bytes);
        flipped = true;
    }
    ASSERT_TRUE(flipped) << "the file's bytes lie uncompressed in a segment";

    const Outcome outcome = Recover(source, "damaged-out");
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_NE(outcome.out.find("FILE3.BIN: bytes"), std::string::npos) << outcome.out;
    const auto recovered = RecoveredFilesUnder(dir / "damaged-out");
    ASSERT_EQ(recovered.size(), cardFiles.size());
    for (const auto& [path, bytes] : cardFiles) {
        const std::string& got = recovered.at(path);
        ASSERT_EQ(got.size(), bytes.size()) << path;
        if (path != "MISC/FILE3.BIN") {
            EXPECT_TRUE(got == bytes) << path;
            continue;
        }
        // Zeros stand in for exactly one chunk around the changed byte.
        size_t first = bytes.size(), last = 0;
        for (size_t i = 0; i < bytes.size(); ++i)
            if (got[i] != bytes[i]) {
                EXPECT_EQ(got[i], '\0') << path << " at " << i;
                first = std::min(first, i);
                last = i;
            }
        EXPECT_LE(first, middle);
        EXPECT_GE(last, middle);
        EXPECT_LT(last - first, kChunkBytes);
        EXPECT_GT(last - first, kChunkBytes - 512) << "the whole chunk, not only the changed sector";
    }
}

TEST_F(E01Source, TheStreamAnswersEverySeekAndReadAsTheRawImage) {
    const std::string image = ReadText(raw);
    std::unique_ptr<Restore::ProgressFileStream> stream = Platform::OpenEwfImage(AAA::FromUtf8(Segment(1).string()));
    stream->blockSize = 512;
    EXPECT_EQ(stream->Length(), static_cast<int64_t>(image.size()));
    std::mt19937_64 random(7);
    std::vector<char> buffer(300000);
    for (int op = 0; op < 400; ++op) {
        const uint64_t origin = op >= 300 ? 8192 : 0; // the last ops as a volume inside its card
        if (op == 300)
            stream->SetOrigin(origin);
        const uint64_t span = image.size() - origin;
        const int64_t at = static_cast<int64_t>(random() % (span + 1000)); // some past the end
        const uint32_t count = static_cast<uint32_t>(random() % (op % 5 == 0 ? buffer.size() : 5000));
        const int64_t reached = stream->Seek(at, AAA::SeekBegin);
        if (static_cast<uint64_t>(at) <= span) {
            ASSERT_EQ(reached, at);
        }
        const uint32_t got = stream->Read(buffer.data(), count);
        const uint64_t expected = static_cast<uint64_t>(at) >= span ? 0 : std::min<uint64_t>(count, span - at);
        ASSERT_EQ(got, expected) << "op " << op << " at " << at;
        ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, image.begin() + origin + at)) << "op " << op;
    }
    std::vector<char> scratch(16);
    EXPECT_THROW(stream->Write(scratch.data(), 16), AAA::ExceptionBase) << "the image is never written";
}

// The names libewf_glob finds are the names the refusal messages use.
TEST(E01Segments, NamesFollowLibewfsOwnScheme) {
    TestSupport::TempDir dir("kalvory-e01-names");
    const auto tool = TestSupport::FindTool("ewfacquire");
    if (!tool)
        GTEST_SKIP() << "ewfacquire (ewf-tools) is needed";
    for (const char* stem : {"up", "low"}) {
        const std::string first = (dir / (std::string(stem) + (stem[0] == 'u' ? ".E01" : ".e01"))).string();
        TestSupport::WriteFileBytes(dir / "one.img", std::string(4096, 'x'));
        const auto made = TestSupport::RunCommand(
            {*tool, "-u", "-q", "-t", (dir / "made").string(), (dir / "one.img").string()});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        fs::rename(dir / "made.E01", first);
        constexpr uint32_t kCount = 130; // past E99 into the letters
        for (uint32_t n = 2; n <= kCount; ++n)
            TestSupport::WriteFileBytes(*Platform::SegmentPath(first, n), "");
        libewf_error_t* error = nullptr;
        char** names = nullptr;
        int count = 0;
        ASSERT_EQ(libewf_glob(first.c_str(), first.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error), 1);
        std::vector<std::string> globbed(names, names + count);
        libewf_glob_free(names, count, nullptr);
        ASSERT_EQ(globbed.size(), kCount) << first;
        for (uint32_t n = 1; n <= kCount; ++n)
            EXPECT_EQ(*Platform::SegmentPath(first, n), globbed[n - 1]);
    }
    EXPECT_EQ(Platform::SegmentPath("card.E01", 100 + 26 * 26 * 22 - 1), "card.ZZZ");
    EXPECT_EQ(Platform::SegmentPath("card.E01", 100 + 26 * 26 * 22), std::nullopt);
    for (const char* notFirst : {"card.E02", "card.img", ".E01", "dir/.e01", "E01"})
        EXPECT_FALSE(Platform::IsE01Path(notFirst)) << notFirst;
}

} // namespace
