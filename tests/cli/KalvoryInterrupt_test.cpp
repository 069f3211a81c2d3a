// Ctrl-C during a recovery: the command stops with 130 and leaves only whole,
// correct files behind.
#include <gtest/gtest.h>

#include <cstring>

#include "CliTestSupport.h"
#include "RecoveredFiles.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;

// Big enough that saving outlasts the command's progress poll several times over.
constexpr int kClipCount = 8;
constexpr size_t kClipBytes = 128u << 20;
constexpr size_t kBlock = 1u << 20;

// One mebibyte of clip `clip`: a shared filler stamped with the clip and block
// number, so a block from the wrong place or clip shows.
void FillBlock(std::string& block, int clip, size_t index) {
    static const std::string filler = [] {
        std::string bytes(kBlock, '\0');
        uint32_t state = 12345;
        for (char& byte : bytes) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<char>(state >> 24);
        }
        return bytes;
    }();
    block = filler;
    const uint64_t stamp = (static_cast<uint64_t>(clip) << 32) | index;
    for (size_t at = 0; at < kBlock; at += 4096)
        std::memcpy(block.data() + at, &stamp, sizeof stamp);
}

bool ClipIsIntact(const fs::path& file, int clip) {
    if (fs::file_size(file) != kClipBytes)
        return false;
    std::ifstream in(file, std::ios::binary);
    std::string expected;
    std::string actual(kBlock, '\0');
    for (size_t index = 0; index < kClipBytes / kBlock; ++index) {
        FillBlock(expected, clip, index);
        if (!in.read(actual.data(), kBlock) || actual != expected)
            return false;
    }
    return true;
}

std::string ClipName(int clip) { return "0000" + std::to_string(clip) + ".MTS"; }

TEST(KalvoryInterrupt, InterruptDuringSavingKeepsOnlyWholeFiles) {
    if (!TestSupport::HaveFatTools())
        GTEST_SKIP() << "mkfs.fat or mtools not installed";
    TestSupport::TempDir dir("kalvory-interrupt");
    const fs::path card = dir / "card.img";
    TestSupport::WriteFileBytes(card, "");
    fs::resize_file(card, (kClipCount * kClipBytes) + (64u << 20));
    ASSERT_EQ(TestSupport::MkfsFat(card, {"-F", "32"}).exitCode, 0);
    const auto mtool = [&](std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), {"env", "MTOOLS_SKIP_CHECK=1"});
        const TestSupport::CommandResult result = TestSupport::RunCommand(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.output;
    };
    mtool({"mmd", "-i", card.string(), "::PRIVATE", "::PRIVATE/AVCHD", "::PRIVATE/AVCHD/BDMV",
           "::PRIVATE/AVCHD/BDMV/STREAM"});
    const fs::path staging = dir / "clip.tmp";
    std::string block;
    for (int clip = 0; clip < kClipCount; ++clip) {
        {
            std::ofstream writer(staging, std::ios::binary | std::ios::trunc);
            for (size_t index = 0; index < kClipBytes / kBlock; ++index) {
                FillBlock(block, clip, index);
                writer.write(block.data(), kBlock);
            }
        }
        mtool({"mcopy", "-i", card.string(), staging.string(), "::PRIVATE/AVCHD/BDMV/STREAM/" + ClipName(clip)});
    }
    fs::remove(staging);

    const fs::path out = dir / "out";
    Child kalvory(KALVORY_BINARY, {"recover", card.string(), out.string()}, dir.Path());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (kalvory.ErrSoFar().find("Saving") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(kalvory.Pid(), SIGINT);
    const Outcome outcome = kalvory.Finish();

    ASSERT_EQ(outcome.exitCode, 130) << outcome.out << outcome.err;
    EXPECT_EQ(outcome.err.find("kalvory: "), std::string::npos) << "a cancel is no error: " << outcome.err;
    int kept = 0;
    uint64_t keptBytes = 0;
    for (int clip = 0; clip < kClipCount; ++clip) {
        const fs::path file = out / "PRIVATE/AVCHD/BDMV/STREAM" / ClipName(clip);
        if (!fs::exists(file))
            continue;
        EXPECT_TRUE(ClipIsIntact(file, clip)) << file << " is partial or wrong";
        ++kept;
        keptBytes += fs::file_size(file);
    }
    EXPECT_LT(kept, kClipCount) << "the interrupt came after the last file";
    EXPECT_EQ(outcome.out, "Cancelled. The " + std::to_string(kept) + " files (" + KalvoryCli::HumanBytes(keptBytes) +
                               ") finished before the cancel are kept in " + out.string() +
                               "; the file being written was removed.\n" + ReportLine(out / "kalvory-report.json"));
}

TEST(KalvoryInterrupt, InterruptDuringTheSectorScanStopsWithinASecond) {
    if (!TestSupport::HaveFatTools())
        GTEST_SKIP() << "mkfs.fat not installed";
    TestSupport::TempDir dir("kalvory-interrupt");
    const fs::path card = dir / "sparse.img";
    TestSupport::WriteFileBytes(card, "");
    fs::resize_file(card, 8ull << 30);
    ASSERT_EQ(TestSupport::MkfsFat(card, {"-F", "32"}).exitCode, 0);

    Child kalvory(KALVORY_BINARY, {"list", card.string()}, dir.Path());
    // The scan moves the progress as it reads: a plain line every tenth.
    const auto progressLines = [&] {
        const std::string err = kalvory.ErrSoFar();
        size_t lines = 0;
        for (size_t at = 0; (at = err.find("Verifying: ", at)) != std::string::npos; ++at)
            ++lines;
        return lines;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (progressLines() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(kalvory.Pid(), SIGINT);
    const Outcome outcome = kalvory.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
    EXPECT_EQ(outcome.exitCode, 130) << outcome.err;
    EXPECT_LT(seconds, 1.0);
}

} // namespace
