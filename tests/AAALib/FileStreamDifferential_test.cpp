// Seeded random seeks, reads, copies and length queries on the stream, each
// answer checked against pread of the same bytes: over a plain file, one with
// unreadable sectors, one that ends before its length says, one that gives
// short reads, one read from 1 MiB into its file, and through the progress
// stream; and with the read-ahead's thread fetching sequential runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

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

struct SequentialRead {
    std::string bytes;
    int mostFailuresOfASector = 0; // failed requests over the worst bad sector
};

int MostFailuresOfASector(const SourceShape& shape) {
    int most = 0;
    for (const auto& [badStart, badEnd] : shape.bad)
        for (uint64_t sector = badStart / 512; sector * 512 < badEnd; ++sector) {
            const int failures = static_cast<int>(std::count_if(
                StreamCheck::failed.begin(), StreamCheck::failed.end(),
                [&](const auto& request) { return request.first < (sector + 1) * 512 && sector * 512 < request.second; }));
            most = std::max(most, failures);
        }
    return most;
}

std::string ReadToTheEnd(AAA::FileStream& stream, uint64_t seed) {
    std::mt19937 random(static_cast<uint32_t>(seed));
    std::string bytes;
    std::string piece;
    for (;;) {
        piece.resize(1 + random() % (1u << (random() % 2 ? 16 : 21)));
        const uint32_t got = stream.Read(piece.data(), static_cast<uint32_t>(piece.size()));
        bytes.append(piece, 0, got);
        if (got == 0)
            return bytes;
    }
}

SequentialRead ReadThrough(const std::filesystem::path& file, const SourceShape& shape, uint64_t seed) {
    StreamCheck::ScopedFaults faults(file, shape);
    SequentialRead result;
    auto stream = std::make_unique<AAA::FileStream>(AAA::FromUtf8(file.string()), AAA::OpenMode::OpenExisting,
                                                    AAA::OpenAccess::Read);
    stream->blockSize = shape.blockSize;
    if (shape.ahead == Ahead::On) {
        EXPECT_TRUE(stream->EnableReadAhead());
    }
    AAA::FileStream::SetSlowSourceForTesting(shape.ahead == Ahead::On);
    result.bytes = ReadToTheEnd(*stream, seed);
    AAA::FileStream::SetSlowSourceForTesting(false);
    stream.reset(); // the read-ahead's thread is gone: every failed request is in
    result.mostFailuresOfASector = MostFailuresOfASector(shape);
    return result;
}

// A failing card pays an error delay for every failed request. A bad sector
// costs two, read ahead or not: the whole request that met it, and its own
// salvage read; never again for a window fetched ahead, nor a piece of it.
TEST(FileStreamDifferential, ABadSectorFailsTwoRequestsWithOrWithoutTheReadAhead) {
    TestSupport::TempDir dir("kalvory-stream-faults");
    const auto file = dir / "source.bin";
    StreamCheck::WriteRandomFile(file, kFileSize, 21);
    for (uint64_t seed = 1; seed <= 8; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937_64 random(seed);
        SourceShape plain;
        for (int i = 1 + static_cast<int>(random() % 4); i > 0; --i) {
            const uint64_t start = random() % kFileSize;
            const uint64_t end = start + 1 + random() % (random() % 2 ? 4096 : 3 << 19);
            plain.bad.emplace_back(start, end); // reaching past the end: a last sector cut short fails too
        }
        SourceShape ahead = plain;
        ahead.ahead = Ahead::On;
        const SequentialRead once = ReadThrough(file, plain, seed);
        const SequentialRead fetched = ReadThrough(file, ahead, seed);
        EXPECT_EQ(once.bytes.size(), kFileSize) << "zeros stand in for nothing past the end";
        EXPECT_TRUE(fetched.bytes == once.bytes);
        EXPECT_EQ(once.mostFailuresOfASector, 2);
        EXPECT_EQ(fetched.mostFailuresOfASector, 2);
    }
}

} // namespace
