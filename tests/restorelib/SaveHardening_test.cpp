// A whole recovery meeting device faults: unreadable sectors on the card, a
// card that goes away, a full or too small destination, a link planted while
// the save is paused, and a cancel at two hundred points of its run.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <set>
#include <thread>

#include "AAA_DestinationFolder.h"
#include "RestoreJobTestSupport.h"
#include "common/FaultyIo.h"
#include "support/FatImageBuilder.h"

namespace {

using namespace RestoreTest;
using FSAccessLib::SavedEntry;
using FSAccessLib::SaveStatus;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

constexpr size_t kFirstSize = 100 * 1024;
constexpr size_t kSecondSize = 600 * 1024; // two copy pieces
constexpr size_t kThirdSize = 64 * 1024;

const char* const kFirst = "DCIM/100CDPFP/IMGA0001.JPG";
const char* const kSecond = "DCIM/100CDPFP/IMGA0002.JPG";
const char* const kThird = "PRIVATE/AVCHD/BDMV/INDEX.BDM";

struct Card {
    fs::path image;
    TestSupport::FatImage built;
    uint64_t Offset(const char* path, uint64_t inFile) const {
        uint64_t skipped = 0;
        for (const auto& extent : built.Entry(path).extents) {
            if (inFile < skipped + extent.length)
                return extent.offset + (inFile - skipped);
            skipped += extent.length;
        }
        return UINT64_MAX;
    }
};

Card WriteCard(const fs::path& where, FatType type = FatType::Fat16) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(type));
    builder.AddFile(kFirst, Pattern(kFirstSize, 1));
    builder.AddFile(kSecond, Pattern(kSecondSize, 2));
    builder.AddFile(kThird, Pattern(kThirdSize, 3));
    Card card{where / "card.img", builder.Build()};
    card.built.WriteTo(card.image);
    return card;
}

std::string CardPath(std::string path) {
    for (char& c : path)
        c = c == '/' ? '\\' : c;
    return "\\" + path;
}

const SavedEntry* Find(const Kalvory::KalvoryBase& strategy, const char* path) {
    for (const SavedEntry& outcome : strategy.SaveOutcomes())
        if (AAA::ToUtf8(outcome.cardPath) == CardPath(path))
            return &outcome;
    return nullptr;
}

class SaveHardening : public RestoreJobTest {
protected:
    std::unique_ptr<Restore::RestoreMain> VerifiedJob(const Card& card, int type, const fs::path& out) {
        auto job = std::make_unique<Restore::RestoreMain>(type, Wide(card.image));
        job->SetDestination(Wide(out));
        EXPECT_EQ(job->ResultState(), 0) << AAA::ToUtf8(job->ErrorText());
        EXPECT_EQ(VerifyNow(*job, completion), 0) << AAA::ToUtf8(job->ErrorText());
        return job;
    }
    Completion completion;
};

TEST_F(SaveHardening, UnreadableSectorsCostOnlyThemselves) {
    const Card card = WriteCard(dir.Path());
    KalvoryTest::ScopedReadFaults faults(card.image);
    const uint64_t inFile = card.Offset(kSecond, 150 * 1024);
    const uint64_t inFreeSpace = 20u << 20; // the scan reads it
    faults.faults.bad = {{inFile, inFile + 1}, {inFreeSpace, inFreeSpace + 1}};
    const fs::path out = Destination();
    auto job = VerifiedJob(card, 1, out);
    ASSERT_EQ(SaveNow(*job, completion), 0) << AAA::ToUtf8(job->ErrorText());

    std::string expected = Pattern(kSecondSize, 2);
    const uint64_t sector = 150 * 1024 / 512 * 512;
    std::fill_n(expected.begin() + sector, 512, '\0');
    const auto files = FilesUnder(out);
    EXPECT_TRUE(files.at(kSecond) == expected);
    EXPECT_TRUE(files.at(kFirst) == Pattern(kFirstSize, 1));
    EXPECT_TRUE(files.at(kThird) == Pattern(kThirdSize, 3));
    const SavedEntry* damaged = Find(*job->Strategy(), kSecond);
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(damaged->unreadable, (std::vector<AAA::ByteRange>{{sector, 512}}));
    EXPECT_TRUE(Find(*job->Strategy(), kFirst)->unreadable.empty());
    EXPECT_EQ(job->Strategy()->UnreadableBytes(), 1024u) << "the scan stepped over the free-space sector";
}

TEST_F(SaveHardening, AVanishedCardEndsTheJobAndKeepsWhatWasFinished) {
    const Card card = WriteCard(dir.Path());
    KalvoryTest::ScopedReadFaults faults(card.image);
    const fs::path out = Destination();
    auto job = VerifiedJob(card, 0, out);
    faults.faults.lostFrom = card.Offset(kSecond, 200 * 1024);
    ASSERT_EQ(SaveNow(*job, completion), -1);
    const std::string error = AAA::ToUtf8(job->ErrorText());
    EXPECT_EQ(error.rfind(AAA::ToUtf8(AAA::LoadString(115)), 0), 0u) << error;
    EXPECT_NE(error.find(card.image.string() + ": No such device or address"), std::string::npos) << error;
    const auto files = FilesUnder(out);
    EXPECT_EQ(files.size(), 1u);
    EXPECT_TRUE(files.at(kFirst) == Pattern(kFirstSize, 1));
    EXPECT_EQ(Find(*job->Strategy(), kSecond)->status, SaveStatus::Failed);
    EXPECT_EQ(Find(*job->Strategy(), kThird)->status, SaveStatus::NotReached);
}

TEST_F(SaveHardening, AFullDestinationEndsTheSaveWith111AndNamesTheFile) {
    const Card card = WriteCard(dir.Path());
    const fs::path out = Destination();
    auto job = VerifiedJob(card, 0, out);
    KalvoryTest::ScopedWriteBudget budget(kFirstSize + 50 * 1024, ENOSPC);
    ASSERT_EQ(SaveNow(*job, completion), -1);
    const std::string error = AAA::ToUtf8(job->ErrorText());
    EXPECT_EQ(error.rfind(AAA::ToUtf8(AAA::LoadString(111)), 0), 0u) << error;
    EXPECT_NE(error.find((out / kSecond).string() + ": No space left on device"), std::string::npos) << error;
    const auto files = FilesUnder(out);
    EXPECT_EQ(files.size(), 1u) << "the partial file stays";
    EXPECT_TRUE(files.at(kFirst) == Pattern(kFirstSize, 1));
    EXPECT_EQ(Find(*job->Strategy(), kThird)->status, SaveStatus::NotReached);
}

uint64_t Plenty(const AAA::WString&) { return UINT64_MAX; }

TEST_F(SaveHardening, ARealFileSystemRunningFullMidFileKeepsNoPartialFile) {
    const Card card = WriteCard(dir.Path());
    const fs::path out = Destination();
    const std::string mount = "mount -t tmpfs -o size=512k tmpfs '" + out.string() + "' 2>/dev/null";
    if (std::system(mount.c_str()) != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    Restore::SetFreeSpaceProbeForTesting(&Plenty); // the card is larger than this folder
    auto job = VerifiedJob(card, 0, out);
    const int32_t state = SaveNow(*job, completion);
    const auto files = FilesUnder(out);
    std::system(("umount '" + out.string() + "'").c_str());
    ASSERT_EQ(state, -1);
    const std::string error = AAA::ToUtf8(job->ErrorText());
    EXPECT_NE(error.find((out / kSecond).string() + ": No space left on device"), std::string::npos) << error;
    EXPECT_EQ(files.size(), 1u) << "the partial file stays";
    EXPECT_TRUE(files.at(kFirst) == Pattern(kFirstSize, 1));
}

uint64_t ExactlyTheSecondFile(int) { return kSecondSize; }
uint64_t JustBelowTheSecondFile(int) { return kSecondSize - 1; }

TEST_F(SaveHardening, FilesTooLargeForTheDestinationAreRefusedBeforeWriting) {
    const Card card = WriteCard(dir.Path());
    const fs::path out = Destination();
    auto job = VerifiedJob(card, 0, out);
    AAA::SetFileSizeLimitProbeForTesting(&JustBelowTheSecondFile);
    const int32_t state = SaveNow(*job, completion);
    AAA::SetFileSizeLimitProbeForTesting(nullptr);
    ASSERT_EQ(state, -1);
    const std::string error = AAA::ToUtf8(job->ErrorText());
    EXPECT_NE(error.find(std::to_string(kSecondSize - 1) + " bytes, and 1 files are larger: " + kSecond), std::string::npos)
        << error;
    EXPECT_EQ(error.find(kFirst), std::string::npos) << error;
    EXPECT_TRUE(fs::is_empty(out)) << "nothing is written, not even a folder";

    // A file exactly at the limit fits.
    auto again = VerifiedJob(card, 0, out);
    AAA::SetFileSizeLimitProbeForTesting(&ExactlyTheSecondFile);
    EXPECT_EQ(SaveNow(*again, completion), 0) << AAA::ToUtf8(again->ErrorText());
    AAA::SetFileSizeLimitProbeForTesting(nullptr);
    EXPECT_EQ(FilesUnder(out).size(), 3u);
}

std::atomic<bool> pausedOnce{false};
std::atomic<bool> paused{false};
void PauseInSecondFile(Restore::JobProgress& job) {
    if (Restore::ProgressWritten.load() > kFirstSize && !pausedOnce.exchange(true)) {
        job.gate.Close();
        paused = true;
    }
}

TEST_F(SaveHardening, ALinkSwappedInDuringAPausedSaveIsNeverFollowed) {
    const Card card = WriteCard(dir.Path());
    const fs::path out = Destination();
    const fs::path outside = dir / "outside";
    fs::create_directory(outside);
    auto job = VerifiedJob(card, 0, out);
    pausedOnce = false;
    paused = false;
    job->progress.checkpoint = &PauseInSecondFile;
    job->StartSave(&completion, &RecordCompletion);
    for (int i = 0; i < 1000 && !paused.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(paused.load());
    // The folder being written into is moved away and a link takes its
    // place; the folders still to come are links already.
    fs::rename(out / "DCIM" / "100CDPFP", out / "moved");
    fs::create_directory_symlink(outside, out / "DCIM" / "100CDPFP");
    fs::create_directory_symlink(outside, out / "PRIVATE");
    job->ResumeWorker();
    job->Wait();
    EXPECT_EQ(job->ResultState(), 0) << AAA::ToUtf8(job->ErrorText());
    EXPECT_TRUE(fs::is_empty(outside));
    const auto files = FilesUnder(out);
    EXPECT_TRUE(files.at("moved/IMGA0002.JPG") == Pattern(kSecondSize, 2)) << "the open file is finished where it is";
    EXPECT_EQ(Find(*job->Strategy(), kThird)->status, SaveStatus::Failed);
}

// Cancels at checkpoint number `cancelAt` (counted from 1 over verification
// and saving); 0 only counts.
std::atomic<int> checkpointsSeen{0};
std::atomic<int> cancelAt{0};
void CancelAtPoint(Restore::JobProgress& job) {
    if (checkpointsSeen.fetch_add(1) + 1 == cancelAt.load())
        job.cancel.store(1);
}

// Files of a cancelled run: each one whole, and each one the save recorded as written.
void ExpectOnlyWholeRecordedFiles(const Restore::RestoreMain& job, const fs::path& out,
                                  const std::map<std::string, std::string>& whole, int point) {
    std::set<std::string> recorded;
    for (const SavedEntry& outcome : job.Strategy()->SaveOutcomes())
        if (outcome.status == SaveStatus::Written)
            recorded.insert(fs::relative(AAA::ToUtf8(outcome.hostPath), out).generic_string());
    std::set<std::string> present;
    for (const auto& [path, bytes] : FilesUnder(out)) {
        present.insert(path);
        EXPECT_TRUE(whole.count(path) && whole.at(path) == bytes) << path << " at point " << point;
    }
    EXPECT_EQ(present, recorded) << "at point " << point;
}

TEST_F(SaveHardening, CancelAtAnyOfTwoHundredPointsLeavesOnlyWholeFiles) {
    FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat12));
    builder.AddFile(kSecond, Pattern(600 * 1024, 2)); // two copy pieces
    for (int i = 0; i < 40; ++i) { // enough files that the save has as many points as the search
        char name[64];
        std::snprintf(name, sizeof name, "DCIM/10%dCDPFP/IMGA%04d.JPG", 1 + i % 3, i + 10);
        builder.AddFile(name, Pattern(1024 + static_cast<size_t>(i) * 700, static_cast<uint32_t>(i + 10)));
    }
    builder.AddFile(kThird, Pattern(8 * 1024, 3));
    const fs::path image = dir / "small.img";
    builder.Build().WriteTo(image);

    const auto run = [&](const fs::path& out, int point) {
        auto job = std::make_unique<Restore::RestoreMain>(1, Wide(image));
        job->SetDestination(Wide(out));
        checkpointsSeen = 0;
        cancelAt = point;
        job->progress.checkpoint = &CancelAtPoint;
        Completion done;
        int32_t state = VerifyNow(*job, done);
        const int verifyPoints = checkpointsSeen.load();
        if (state == 0)
            state = SaveNow(*job, done);
        return std::make_tuple(std::move(job), state, verifyPoints);
    };
    const fs::path full = dir / "full";
    fs::create_directory(full);
    const auto [fullJob, fullState, verifyPoints] = run(full, 0);
    ASSERT_EQ(fullState, 0);
    const int points = checkpointsSeen.load();
    const auto whole = FilesUnder(full);
    ASSERT_EQ(whole.size(), 42u);
    ASSERT_GT(verifyPoints, 20);
    ASSERT_GT(points - verifyPoints, 20);

    int cancelledInSave = 0;
    for (int i = 0; i < 200; ++i) {
        const int point = 1 + static_cast<int>(static_cast<int64_t>(i) * (points - 1) / 199);
        const fs::path out = dir / ("cancel" + std::to_string(i));
        fs::create_directory(out);
        const auto [job, state, seenInVerify] = run(out, point);
        ASSERT_EQ(state, 2) << "point " << point << " of " << points;
        if (point > verifyPoints) {
            ++cancelledInSave;
            ExpectOnlyWholeRecordedFiles(*job, out, whole, point);
        } else {
            EXPECT_TRUE(fs::is_empty(out)) << "point " << point;
        }
        fs::remove_all(out);
    }
    EXPECT_GT(cancelledInSave, 20);
}

} // namespace
