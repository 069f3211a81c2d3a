// Files the judge reads are fetched once, during verification, and the save
// moves them into place. Seeded layouts of stills and streams, many back to
// back so that one file's judging reads into the next one's first clusters:
// - deleted, they come back byte for byte with none of their bytes written
//   into the destination a second time;
// - quick-formatted, their folders found by the scan, they come back with
//   next to nothing read from the card twice.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <random>
#include <unistd.h>

#include "AAA_FileStream.h"

#include "CardReadCount.h"
#include "RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace RestoreTest;

// Sanitizers slow the scan of each 64 MiB card tenfold: fewer layouts there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t kLayouts = 2;
#else
constexpr uint64_t kLayouts = 10;
#endif

std::atomic<uint64_t> writtenByWrite{0};

ssize_t CountingWrite(int fd, const void* buffer, size_t count) {
    const ssize_t done = ::write(fd, buffer, count);
    if (done > 0)
        writtenByWrite.fetch_add(static_cast<uint64_t>(done));
    return done;
}

struct Placed {
    std::string path;
    std::string bytes;
};

uint32_t Le(const std::string& bytes, size_t at, int width) {
    uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
    return value;
}

// What a quick format leaves of a FAT32 volume: empty tables, an empty root,
// every other cluster as it was.
void QuickFormat(const fs::path& image) {
    std::string bytes = TestSupport::ReadFileBytes(image);
    const uint32_t sector = Le(bytes, 11, 2);
    const uint64_t fatStart = uint64_t{Le(bytes, 14, 2)} * sector;
    const uint64_t fatBytes = uint64_t{Le(bytes, 36, 4)} * sector;
    const uint32_t fats = Le(bytes, 16, 1);
    const std::string fresh("\xF8\xFF\xFF\x0F\xFF\xFF\xFF\x0F\xFF\xFF\xFF\x0F", 12); // media, end mark, root
    for (uint32_t f = 0; f < fats; ++f) {
        bytes.replace(fatStart + f * fatBytes, fatBytes, std::string(fatBytes, '\0'));
        bytes.replace(fatStart + f * fatBytes, fresh.size(), fresh);
    }
    const uint64_t root = fatStart + fats * fatBytes; // cluster 2
    bytes.replace(root, uint64_t{Le(bytes, 13, 1)} * sector, std::string(Le(bytes, 13, 1) * sector, '\0'));
    TestSupport::WriteFileBytes(image, bytes);
}

enum class Then { Delete, QuickFormat };

// Files in order on the card, each contiguous; a gap of free clusters before
// each one only sometimes.
std::vector<Placed> WriteCard(uint64_t seed, const fs::path& image, Then then) {
    std::mt19937_64 random(seed);
    auto options = TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat32);
    options.sectorsPerCluster = static_cast<uint8_t>(1u << (random() % 4)); // 512 B to 4 KiB
    const uint32_t cluster = 512u * options.sectorsPerCluster;
    TestSupport::FatImageBuilder card(options);
    card.AddFolder("DCIM/100CDPFP", {.clusters = {3}});
    card.AddFolder("PRIVATE/AVCHD/BDMV/STREAM", {.clusters = {4}});
    std::vector<Placed> placed;
    uint32_t next = 40;
    const int files = 3 + static_cast<int>(random() % 4);
    for (int i = 0; i < files; ++i) {
        const bool still = random() % 2 == 0;
        char name[48];
        std::snprintf(name, sizeof name, still ? "DCIM/100CDPFP/IMGA%04d.JPG" : "PRIVATE/AVCHD/BDMV/STREAM/%05d.MTS",
                      i + 1);
        // Formatted cards get longer streams: more than the scan's own reads, if it read them.
        const size_t units = then == Then::QuickFormat ? 200 + random() % 300 : 20 + random() % 60;
        const size_t length = still ? 20000 + random() % 150000 : 6144 * units;
        const std::string bytes = TestSupport::MediaShaped(name, length, static_cast<uint32_t>(seed * 16 + i));
        next += random() % 3 == 0 ? static_cast<uint32_t>(1 + random() % 3) : 0;
        TestSupport::FatEntryOptions at;
        const uint32_t count = static_cast<uint32_t>((length + cluster - 1) / cluster);
        for (uint32_t c = 0; c < count; ++c)
            at.clusters.push_back(next + c);
        next += count;
        card.AddFile(name, bytes, at);
        placed.push_back({name, bytes});
    }
    if (then == Then::Delete)
        for (const Placed& file : placed)
            card.DeleteEntry(file.path);
    card.Build().WriteTo(image);
    if (then == Then::QuickFormat)
        QuickFormat(image);
    return placed;
}

std::vector<std::string> SortedContents(const std::map<std::string, std::string>& files) {
    std::vector<std::string> contents;
    for (const auto& [path, bytes] : files)
        if (path.find("kalvory") == std::string::npos)
            contents.push_back(bytes);
    std::sort(contents.begin(), contents.end());
    return contents;
}

class StagedSave : public RestoreJobTest {
protected:
    // A job on `image` verified with `out` (made) as DEST; null after a failure.
    std::unique_ptr<Restore::RestoreMain> Verified(const fs::path& image, Restore::StrategyType type, const fs::path& out,
                                                   Completion& completion) {
        auto job = std::make_unique<Restore::RestoreMain>(static_cast<int32_t>(type), Wide(image));
        fs::create_directories(out);
        job->SetDestination(Wide(out));
        if (job->ResultState() != 0 || VerifyNow(*job, completion) != 0) {
            ADD_FAILURE() << AAA::ToUtf8(job->ErrorText());
            return nullptr;
        }
        return job;
    }

    std::map<std::string, std::string> Expected(const std::vector<Placed>& placed) {
        std::map<std::string, std::string> expected;
        for (const Placed& file : placed)
            expected[file.path] = file.bytes;
        return expected;
    }
};

TEST_F(StagedSave, JudgedFilesAreMovedIntoPlaceWithoutASecondWrite) {
    AAA::FileStream::SetKernelCopyForTesting(false); // every copied byte passes through write()
    for (uint64_t seed = 1; seed <= kLayouts && !HasFailure(); ++seed) {
        const fs::path image = dir / "card.img";
        const std::vector<Placed> placed = WriteCard(seed, image, Then::Delete);
        const fs::path out = dir / ("out" + std::to_string(seed));
        Completion completion;
        const auto job = Verified(image, Restore::StrategyType::Directory, out, completion);
        ASSERT_TRUE(job);
        writtenByWrite = 0;
        AAA::FileStream::SetWriteFunctionForTesting(&CountingWrite);
        const int32_t saved = SaveNow(*job, completion);
        AAA::FileStream::SetWriteFunctionForTesting(nullptr);
        ASSERT_EQ(saved, 0) << AAA::ToUtf8(job->ErrorText());

        EXPECT_EQ(SortedContents(FilesUnder(out)), SortedContents(Expected(placed))) << "seed " << seed;
        EXPECT_EQ(writtenByWrite.load(), 0u) << "seed " << seed << ": the save copied what was staged whole";
    }
    AAA::FileStream::SetKernelCopyForTesting(true);
}

TEST_F(StagedSave, FoundFoldersAreReadOnceByTheJudgeAndNotByTheScan) {
    AAA::FileStream::SetSlowSourceForTesting(true); // read ahead as from a card
    for (uint64_t seed = 20; seed < 20 + kLayouts && !HasFailure(); ++seed) {
        const fs::path image = dir / "card.img";
        const std::vector<Placed> placed = WriteCard(seed, image, Then::QuickFormat);
        CardReads::Start(image);
        const fs::path out = dir / ("out" + std::to_string(seed));
        Completion completion;
        const auto job = Verified(image, Restore::StrategyType::DirAndSector, out, completion);
        ASSERT_TRUE(job);
        ASSERT_EQ(SaveNow(*job, completion), 0) << AAA::ToUtf8(job->ErrorText());
        const CardReads reads = CardReads::Stop();
        EXPECT_EQ(SortedContents(FilesUnder(out)), SortedContents(Expected(placed))) << "seed " << seed;
        uint64_t stored = 0;
        for (const Placed& file : placed)
            stored += file.bytes.size();
        // Again: the files in the scan's read that found their folders and in
        // the windows read ahead of it, a look at each file's first bytes, a
        // judge's over-read.
        const uint64_t bound = stored / 50 + (1 << 20) + (AAA::ReadAhead::kAhead + 1) * AAA::ReadAhead::kWindow +
                               64 * 1024 * placed.size();
        EXPECT_LE(reads.twice, bound) << "seed " << seed << ": " << reads.twice << " of " << reads.once << " read twice";
    }
    AAA::FileStream::SetSlowSourceForTesting(false);
}

} // namespace
