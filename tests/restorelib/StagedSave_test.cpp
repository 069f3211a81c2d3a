// Deleted files that the directories list and the judge reads are fetched once,
// during verification, and the save moves them into place. Seeded layouts of
// deleted stills and streams, many back to back so that one file's judging
// reads into the next one's first clusters, must come back byte for byte with
// none of their bytes written into the destination a second time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <random>
#include <unistd.h>

#include "AAA_FileStream.h"

#include "RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace RestoreTest;

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

// Deleted files in order on the card, each contiguous; a gap of free clusters
// before each one only sometimes.
std::vector<Placed> WriteCard(uint64_t seed, const fs::path& image) {
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
        const size_t length = still ? 20000 + random() % 150000 : 6144 * (20 + random() % 60);
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
    for (const Placed& file : placed)
        card.DeleteEntry(file.path);
    card.Build().WriteTo(image);
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

class StagedSave : public RestoreJobTest {};

TEST_F(StagedSave, JudgedFilesAreMovedIntoPlaceWithoutASecondWrite) {
    AAA::FileStream::SetKernelCopyForTesting(false); // every copied byte passes through write()
    for (uint64_t seed = 1; seed <= 12 && !HasFailure(); ++seed) {
        const fs::path image = dir / "card.img";
        const std::vector<Placed> placed = WriteCard(seed, image);
        Restore::RestoreMain job(0, Wide(image));
        ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
        const fs::path out = dir / ("out" + std::to_string(seed));
        fs::create_directories(out);
        job.SetDestination(Wide(out));
        Completion completion;
        ASSERT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        writtenByWrite = 0;
        AAA::FileStream::SetWriteFunctionForTesting(&CountingWrite);
        const int32_t saved = SaveNow(job, completion);
        AAA::FileStream::SetWriteFunctionForTesting(nullptr);
        ASSERT_EQ(saved, 0) << AAA::ToUtf8(job.ErrorText());

        std::map<std::string, std::string> expected;
        for (const Placed& file : placed)
            expected[file.path] = file.bytes;
        EXPECT_EQ(SortedContents(FilesUnder(out)), SortedContents(expected)) << "seed " << seed;
        EXPECT_EQ(writtenByWrite.load(), 0u) << "seed " << seed << ": the save copied what was staged whole";
    }
    AAA::FileStream::SetKernelCopyForTesting(true);
}

} // namespace
