#include "AAA_FileStream.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "AAA_CopyHelpers.h"
#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "FileStreamTestSupport.h"
#include "LogCapture.h"
#include "support/TempDir.h"

namespace {

using AAA::OpenAccess;
using AAA::OpenMode;
using AAATest::WidePath;
using Restore::ProgressFileStream;

class ProgressStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        Restore::CurrentJob = &job;
        Restore::SetProgressTotal(0);
        TestSupport::WriteFileBytes(sourcePath, AAATest::PatternBytes(1000));
    }
    void TearDown() override {
        Restore::CurrentJob = nullptr;
        Restore::SetProgressTotal(0);
    }
    Restore::JobProgress job;
    TestSupport::TempDir dir{"aaaprogress"};
    std::filesystem::path sourcePath = dir / "card.img";
    std::filesystem::path targetPath = dir / "out.bin";
};

TEST_F(ProgressStreamTest, SeeksReportUpToNinetyPercent) {
    Restore::SetProgressTotal(1000);
    ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
    source.Seek(450, AAA::SeekBegin);
    EXPECT_EQ(job.percent.load(), 40); // 450 * 90 / 1000, truncated
    source.Seek(1000, AAA::SeekBegin);
    EXPECT_EQ(job.percent.load(), 90);
}

TEST_F(ProgressStreamTest, WritesReportPercentOfTotalCappedAt100) {
    Restore::SetProgressTotal(200);
    ProgressFileStream out(WidePath(targetPath), OpenMode::Create, OpenAccess::Write);
    const std::string bytes(150, 'w');
    out.Write(bytes.data(), 50);
    EXPECT_EQ(job.percent.load(), 25);
    EXPECT_EQ(Restore::ProgressWritten.load(), 50u);
    out.Write(bytes.data(), 50);
    EXPECT_EQ(job.percent.load(), 50);
    out.Write(bytes.data(), 150);
    EXPECT_EQ(job.percent.load(), 100);
}

TEST_F(ProgressStreamTest, SeeksStopReportingOnceWritingStarted) {
    Restore::SetProgressTotal(1000);
    ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
    ProgressFileStream out(WidePath(targetPath), OpenMode::Create, OpenAccess::Write);
    out.Write("abcdefghij", 10);
    EXPECT_EQ(job.percent.load(), 1);
    source.Seek(900, AAA::SeekBegin);
    EXPECT_EQ(job.percent.load(), 1);
}

TEST_F(ProgressStreamTest, ZeroTotalNeverReportsNorCancels) {
    job.percent = 37;
    job.cancel = 1;
    ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
    ProgressFileStream out(WidePath(targetPath), OpenMode::Create, OpenAccess::Write);
    EXPECT_NO_THROW(source.Seek(500, AAA::SeekBegin));
    EXPECT_NO_THROW(out.Write("x", 1));
    EXPECT_EQ(job.percent.load(), 37);
}

TEST_F(ProgressStreamTest, WithoutJobNothingIsReported) {
    Restore::CurrentJob = nullptr;
    Restore::SetProgressTotal(1000);
    ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
    EXPECT_EQ(source.Seek(500, AAA::SeekBegin), 500);
    EXPECT_EQ(job.percent.load(), 0);
}

TEST_F(ProgressStreamTest, CancelRaisesFromSeekWithThrowSiteLine) {
    Restore::SetProgressTotal(1000);
    job.percent = 12;
    job.cancel = 1;
    ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
    AAATest::LogCapture log(4);
    EXPECT_THROW(source.Seek(500, AAA::SeekBegin), AAA::CancellationException);
    EXPECT_EQ(log.Text(), "restorelib/Restore_Thread(49): AAA::CancellationException()\n");
    EXPECT_EQ(job.percent.load(), 12);
}

TEST_F(ProgressStreamTest, CancelRaisesFromWriteAfterTheBytesLanded) {
    Restore::SetProgressTotal(1000);
    {
        ProgressFileStream out(WidePath(targetPath), OpenMode::Create, OpenAccess::Write);
        out.Write("ab", 2);
        job.cancel = 1;
        EXPECT_THROW(out.Write("cd", 2), AAA::CancellationException);
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(targetPath), "abcd");
}

// ---- The worker and the interface thread ------------------------------------------

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class ProgressThreadTest : public ProgressStreamTest {
protected:
    static constexpr uint64_t kLength = 3 * AAA::kCopyPieceSize + 4321;

    void SetUp() override {
        ProgressStreamTest::SetUp();
        TestSupport::WriteFileBytes(sourcePath, AAATest::PatternBytes(kLength));
        Restore::SetProgressTotal(kLength);
    }
    // Copies the card image on a worker thread; the copy waits at the gate first.
    void StartHeldCopy() {
        job.gate.Close();
        worker = std::thread([this] {
            try {
                ProgressFileStream source(WidePath(sourcePath), OpenMode::OpenExisting, OpenAccess::Read);
                AAA::CopyExtentToNewFile(source, 0, kLength, WidePath(targetPath));
            } catch (const AAA::CancellationException&) {
                cancelled = true;
            }
            finished = true;
        });
        ASSERT_TRUE(WaitFor([this] { return std::filesystem::exists(targetPath); }));
        // Held: no byte reaches the target and the percent stays still.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(finished.load());
        EXPECT_EQ(std::filesystem::file_size(targetPath), 0u);
        EXPECT_EQ(job.percent.load(), 0);
    }
    void TearDown() override {
        if (worker.joinable()) {
            job.gate.Open();
            worker.join();
        }
        ProgressStreamTest::TearDown();
    }

    std::thread worker;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> finished{false};
};

TEST_F(ProgressThreadTest, ClosedGateHoldsTheWorkerUntilOpened) {
    StartHeldCopy();
    job.gate.Open();
    // Pause again mid-copy and resume; the copy must still come out whole.
    job.gate.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    job.gate.Open();
    worker.join();
    EXPECT_FALSE(cancelled.load());
    EXPECT_EQ(job.percent.load(), 100);
    EXPECT_EQ(TestSupport::ReadFileBytes(targetPath), AAATest::PatternBytes(kLength));
}

TEST_F(ProgressThreadTest, CancelWhilePausedRemovesThePartialFile) {
    StartHeldCopy();
    job.cancel = 1;
    job.gate.Open();
    worker.join();
    EXPECT_TRUE(cancelled.load());
    EXPECT_FALSE(std::filesystem::exists(targetPath));
}

} // namespace
