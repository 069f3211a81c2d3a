// The restore job's outcomes at its edges: cards no reader takes, missing
// sources, a destination short of space, empty and unknown searches, and
// cancellation at the exact points where the worker looks at the flag.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"

namespace {

using namespace RestoreTest;
using TestSupport::FatImageBuilder;
using TestSupport::FatType;
using TestSupport::FatVolumeOptions;

constexpr size_t kFirstSize = 100 * 1024;
constexpr size_t kSecondSize = 2 * 1024 * 1024; // several copy pieces
constexpr size_t kThirdSize = 64 * 1024;

// A FAT16 card whose three files are copied in this order.
fs::path WriteThreeFileCard(const fs::path& where) {
    FatImageBuilder card(FatVolumeOptions::Defaults(FatType::Fat16));
    card.AddFile("DCIM/100CDPFP/IMGA0001.JPG", Pattern(kFirstSize, 1));
    card.AddFile("DCIM/100CDPFP/IMGA0002.JPG", Pattern(kSecondSize, 2));
    card.AddFile("PRIVATE/AVCHD/BDMV/INDEX.BDM", Pattern(kThirdSize, 3));
    const fs::path image = where / "card.img";
    card.Build().WriteTo(image);
    return image;
}

std::string Narrow(const std::u16string& text) { return AAA::ToUtf8(text); }

class RestoreMainEdgeCases : public RestoreJobTest {};

TEST_F(RestoreMainEdgeCases, VolumeNoReaderAcceptsFailsWith114AndLogsTheResult) {
    const fs::path image = dir / "noise.img";
    TestSupport::WriteFileBytes(image, Pattern(2 * 1024 * 1024, 9));
    AAATest::LogCapture log(8);
    Restore::RestoreMain job(0, Wide(image));
    EXPECT_EQ(job.ResultState(), -1);
    const std::string expected =
        AAA::LoadStringUtf8(114) + "\n\n" + image.string() + " holds no FAT12, FAT16, FAT32 or exFAT volume";
    EXPECT_EQ(Narrow(job.ErrorText()), expected);
    EXPECT_EQ(job.Strategy(), nullptr);
    const std::string text = log.Text();
    EXPECT_NE(text.find("restorelib/Kalvory_Recover(300): UnknownFileSystemException()\n"), std::string::npos) << text;
    const std::string resultLines = "ResultState: -1  ErrorString: " + expected + "\n";
    EXPECT_NE(text.find(resultLines), std::string::npos) << text;
}

TEST_F(RestoreMainEdgeCases, MissingSourceFailsWith104) {
    Restore::RestoreMain job(0, Wide(dir / "no-such-card.img"));
    EXPECT_EQ(job.ResultState(), -1);
    EXPECT_EQ(Narrow(job.ErrorText()),
              AAA::LoadStringUtf8(104) + "\n\n" + (dir / "no-such-card.img").string() + ": No such file or directory");
    EXPECT_EQ(job.Strategy(), nullptr);
}

std::atomic<uint64_t> simulatedFreeBytes{0};
uint64_t SimulatedFreeSpace(const AAA::WString&) { return simulatedFreeBytes.load(); }

TEST_F(RestoreMainEdgeCases, DestinationNeedsTheWholeCardsSizeFree) {
    Restore::RestoreMain job(0, Wide(WriteThreeFileCard(dir.Path())));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    const uint64_t cardBytes = job.Strategy()->Reader().totalBytes;
    ASSERT_GT(cardBytes, kFirstSize + kSecondSize + kThirdSize);
    Restore::SetFreeSpaceProbeForTesting(&SimulatedFreeSpace);

    // Far more than the files need, one byte less than the card.
    simulatedFreeBytes = cardBytes - 1;
    job.SetDestination(Wide(Destination()));
    EXPECT_EQ(job.ResultState(), -1);
    const AAA::WString refused = AAA::LoadString(111) + u"\n\n" + Wide(Destination()) + u": " +
                                 AAA::FromUtf8(std::to_string(cardBytes - 1)) + u" bytes free, the card holds " +
                                 AAA::FromUtf8(std::to_string(cardBytes)) + u" bytes";
    EXPECT_EQ(job.ErrorText(), refused);

    simulatedFreeBytes = cardBytes;
    job.SetDestination(Wide(Destination()));
    EXPECT_EQ(job.ResultState(), 0);
    // A success leaves the earlier failure's text in place.
    EXPECT_EQ(job.ErrorText(), refused);
    EXPECT_EQ(job.destinationPath, Wide(Destination()));
}

TEST_F(RestoreMainEdgeCases, EmptyCardVerifiesToNothingAtFullPercent) {
    FatImageBuilder card(FatVolumeOptions::Defaults(FatType::Fat16));
    card.Build().WriteTo(dir / "empty.img");
    Restore::RestoreMain job(0, Wide(dir / "empty.img"));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    Completion completion;
    EXPECT_EQ(VerifyNow(job, completion), 1);
    EXPECT_EQ(job.ProgressPercent(), 100);
    EXPECT_EQ(completion.calls.load(), 1);
    EXPECT_EQ(completion.resultState, 1);
}

TEST_F(RestoreMainEdgeCases, UnknownStrategyTypeFindsNothing) {
    Restore::RestoreMain job(5, Wide(WriteThreeFileCard(dir.Path())));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    Completion completion;
    EXPECT_EQ(VerifyNow(job, completion), 1);
    EXPECT_EQ(job.Strategy()->TargetCount(), 0);
    EXPECT_TRUE(job.Strategy()->Root().children.empty());
}

TEST_F(RestoreMainEdgeCases, CompletionIsCalledOncePerStart) {
    Restore::RestoreMain job(0, Wide(WriteThreeFileCard(dir.Path())));
    job.SetDestination(Wide(Destination()));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    Completion completion;
    EXPECT_EQ(VerifyNow(job, completion), 0);
    EXPECT_EQ(completion.calls.load(), 1);
    EXPECT_EQ(completion.resultState, 0);
    EXPECT_EQ(SaveNow(job, completion), 0);
    EXPECT_EQ(completion.calls.load(), 2);
    EXPECT_EQ(job.ProgressPercent(), 100);

    // A job whose construction failed still answers every start exactly once.
    Restore::RestoreMain broken(0, Wide(dir / "missing.img"));
    Completion failed;
    EXPECT_EQ(VerifyNow(broken, failed), -1);
    EXPECT_EQ(failed.calls.load(), 1);
    EXPECT_EQ(failed.resultState, -1);
}

// Cancelling once every device seek of the verification is behind: the flag is
// raised from the log line of the last step, which only walks the tree.
std::atomic<int> seeksAfterCancel{0};
ssize_t CancelOnListUp(void*, const char* data, size_t size) {
    if (std::string(data, size).find("---ListUp---") != std::string::npos)
        Restore::CurrentJob.load()->cancel.store(1);
    return static_cast<ssize_t>(size);
}
void CountSeeksAfterCancel(Restore::JobProgress& job) {
    if (job.CancelRequested())
        seeksAfterCancel.fetch_add(1);
}

TEST_F(RestoreMainEdgeCases, CancelAfterTheLastSeekOfVerificationIsSeenAtItsEnd) {
    Restore::RestoreMain job(0, Wide(WriteThreeFileCard(dir.Path())));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    cookie_io_functions_t hooks{};
    hooks.write = &CancelOnListUp;
    std::FILE* trigger = fopencookie(nullptr, "w", hooks);
    ASSERT_NE(trigger, nullptr);
    std::setvbuf(trigger, nullptr, _IONBF, 0);
    AAA::SetLogSink(trigger);
    AAA::LogThreshold = 8;
    seeksAfterCancel = 0;
    job.progress.checkpoint = &CountSeeksAfterCancel;

    Completion completion;
    const int32_t state = VerifyNow(job, completion);
    AAA::SetLogSink(nullptr);
    AAA::LogThreshold = 0;
    std::fclose(trigger);

    EXPECT_TRUE(job.CancelRequested());
    EXPECT_EQ(seeksAfterCancel.load(), 0) << "the cancel came before the last seek";
    EXPECT_EQ(job.Strategy()->TargetCount(), 3) << "the search itself ran to its end";
    EXPECT_EQ(state, 2);
    EXPECT_EQ(completion.resultState, 2);
    EXPECT_NE(job.ProgressPercent(), 100);
    EXPECT_TRUE(job.ErrorText().empty()) << "a cancel leaves the error text alone";
}

// Raises the flag during the second file, once the first is fully written.
void CancelInSecondFile(Restore::JobProgress& job) {
    if (Restore::ProgressWritten.load() > kFirstSize)
        job.cancel.store(1);
}

TEST_F(RestoreMainEdgeCases, CancelDuringSavingRemovesOnlyTheFileBeingWritten) {
    Restore::RestoreMain job(0, Wide(WriteThreeFileCard(dir.Path())));
    const fs::path out = Destination();
    job.SetDestination(Wide(out));
    ASSERT_EQ(job.ResultState(), 0) << Narrow(job.ErrorText());
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0);
    job.progress.checkpoint = &CancelInSecondFile;
    EXPECT_EQ(SaveNow(job, completion), 2);
    EXPECT_EQ(completion.resultState, 2);
    EXPECT_EQ(completion.calls.load(), 2);

    const auto files = FilesUnder(out);
    ASSERT_EQ(files.count("DCIM/100CDPFP/IMGA0001.JPG"), 1u);
    EXPECT_TRUE(files.at("DCIM/100CDPFP/IMGA0001.JPG") == Pattern(kFirstSize, 1));
    EXPECT_EQ(files.count("DCIM/100CDPFP/IMGA0002.JPG"), 0u) << "the partly written file stays";
    EXPECT_EQ(files.count("PRIVATE/AVCHD/BDMV/INDEX.BDM"), 0u) << "copying went on after the cancel";
    EXPECT_EQ(files.size(), 1u);
}

} // namespace
