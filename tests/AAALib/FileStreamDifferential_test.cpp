// Seeded random seeks, reads, copies and length queries on the stream, each
// answer checked against pread of the same bytes: over a plain file, one with
// unreadable sectors, one that ends before its length says, one that gives
// short reads, one read from 1 MiB into its file, and through the progress
// stream; and with the read-ahead's thread fetching sequential runs.
#include <gtest/gtest.h>

#include "AAA_Progress.h"
#include "StreamDifferential.h"
#include "support/TempDir.h"

namespace {

using StreamCheck::Ahead;
using StreamCheck::ReadSizes;
using StreamCheck::SourceShape;
using StreamCheck::StreamKind;

constexpr uint64_t kFileSize = (6 << 20) + 1234; // not a whole number of blocks
constexpr size_t kOpsPerSeed = 2000;
constexpr uint64_t kSeeds = 3;

std::vector<SourceShape> Shapes() {
    std::vector<SourceShape> shapes = {
        {"read ahead, 512-byte blocks", 512, {}, UINT64_MAX, ReadSizes::Whole, StreamKind::Plain, 0, Ahead::On},
        {"read ahead, short reads and bad sectors", 512, {{0x1FFF0, 0x20010}, {3 << 20, (3 << 20) + 5000}}, UINT64_MAX,
         ReadSizes::Short, StreamKind::Progress, 0, Ahead::On},
        {"read ahead, a source that ends early, 1 MiB into its card", 512, {}, (5 << 20) + 77, ReadSizes::Whole,
         StreamKind::Progress, 0x100000, Ahead::On},
    };
#if defined(__SANITIZE_THREAD__)
    return shapes; // only these share anything between threads
#endif
    const std::vector<SourceShape> single = {
        {"plain file, 512-byte blocks", 512},
        {"plain file, no block size set", 1},
        {"4096-byte blocks through the progress stream", 4096, {}, UINT64_MAX, ReadSizes::Whole, StreamKind::Progress},
        {"unreadable sectors", 512, {{70000, 70001}, {0x100000 - 10, 0x100000 + 10}, {3 << 20, (3 << 20) + 5000}}},
        {"a source that ends early", 512, {}, (5 << 20) + 77},
        {"short reads and a bad sector", 512, {{0x1FFF0, 0x20010}}, UINT64_MAX, ReadSizes::Short},
        {"a volume 1 MiB into its card, with a bad sector", 512, {{90000, 90001}}, UINT64_MAX, ReadSizes::Whole,
         StreamKind::Progress, 0x100000},
    };
    shapes.insert(shapes.end(), single.begin(), single.end());
    return shapes;
}

TEST(FileStreamDifferential, EveryAnswerIsWhatPreadGives) {
    TestSupport::TempDir dir("kalvory-stream-diff");
    const auto file = dir / "source.bin";
    StreamCheck::WriteRandomFile(file, kFileSize, 20);
    for (const SourceShape& shape : Shapes()) {
        for (uint64_t seed = 1; seed <= kSeeds; ++seed) {
            StreamCheck::Runner runner(file, dir.Path(), shape);
            const StreamCheck::RunResult result = runner.Run(StreamCheck::RandomOps(seed, kOpsPerSeed, kFileSize));
            EXPECT_EQ(result.mismatch, "") << "seed " << seed << ", after " << result.opsRun << " operations";
        }
    }
    Restore::SetProgressTotal(0);
}

} // namespace
