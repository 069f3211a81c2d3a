#include "AAA_CopyHelpers.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "AAA_Progress.h"
#include "FileStreamTestSupport.h"
#include "LogCapture.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using AAATest::PatternBytes;
using AAATest::WidePath;

std::vector<uint8_t> PatternVector(size_t size) {
    const std::string bytes = PatternBytes(size);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::string Slice(size_t offset, size_t length) { return PatternBytes(offset + length).substr(offset); }

std::string AsString(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// Hands out at most `limit` bytes per Read, like a device returning short reads.
class TricklingStream : public AAA::MemoryStream {
public:
    TricklingStream(std::vector<uint8_t> bytes, uint32_t limit) : MemoryStream(std::move(bytes)), limit_(limit) {}
    uint32_t Read(void* buffer, uint32_t count) override { return MemoryStream::Read(buffer, std::min(count, limit_)); }

private:
    uint32_t limit_;
};

// ---- CopyExtent ------------------------------------------------------------------

TEST(CopyExtent, CopiesExactlyTheExtentAcrossPieces) {
    const size_t length = 2 * AAA::kCopyPieceSize + 123;
    AAA::MemoryStream source(PatternVector(length + 5000));
    AAA::MemoryStream destination;
    AAA::CopyExtent(source, 777, length, destination);
    EXPECT_EQ(AsString(destination.Bytes()), Slice(777, length));
}

TEST(CopyExtent, ShortReadsAreContinued) {
    TricklingStream source(PatternVector(10000), 999);
    AAA::MemoryStream destination;
    AAA::CopyExtent(source, 10, 9000, destination);
    EXPECT_EQ(AsString(destination.Bytes()), Slice(10, 9000));
}

TEST(CopyExtent, ZeroLengthWritesNothing) {
    AAA::MemoryStream source(PatternVector(100));
    AAA::MemoryStream destination;
    AAA::CopyExtent(source, 50, 0, destination);
    EXPECT_TRUE(destination.Bytes().empty());
}

TEST(CopyExtent, SourceEndingEarlyRaisesUnexpectedEof) {
    AAA::MemoryStream source(PatternVector(1000));
    AAA::MemoryStream destination;
    AAATest::LogCapture log(4);
    EXPECT_THROW(AAA::CopyExtent(source, 900, 500, destination), AAA::UnexpectedEofException);
    EXPECT_EQ(AsString(destination.Bytes()), Slice(900, 100)); // what existed was copied
    const std::string text = log.Text();
    EXPECT_EQ(text.rfind("AAALib/AAA_CopyHelpers(", 0), 0u) << text;
    EXPECT_NE(text.find("): UnexpectedEofException()\n"), std::string::npos) << text;
}

TEST(CopyExtent, ExtentBeyondTheEndFailsAtOnce) {
    AAA::MemoryStream source(PatternVector(1000));
    AAA::MemoryStream destination;
    EXPECT_THROW(AAA::CopyExtent(source, 5000, 1, destination), AAA::UnexpectedEofException);
    EXPECT_TRUE(destination.Bytes().empty());
}

// ---- CopyExtentToNewFile ---------------------------------------------------------

std::atomic<int> openCalls{0};
const char* racePath = nullptr;

int CountingOpen(const char* path, int flags, mode_t mode) {
    ++openCalls;
    return ::open(path, flags, mode);
}

// Another process creates the file between the existence test and the open.
int RacingOpen(const char* path, int flags, mode_t mode) {
    ++openCalls;
    TestSupport::WriteFileBytes(racePath, "theirs");
    return ::open(path, flags, mode);
}

// ---- Copies between two files: in the kernel where possible, by hand otherwise --

class FileToFileCopy : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        AAA::FileStream::SetKernelCopyForTesting(GetParam());
        TestSupport::WriteFileBytes(dir / "card.img", PatternBytes(kImageSize));
    }
    void TearDown() override { AAA::FileStream::SetKernelCopyForTesting(true); }

    std::unique_ptr<Restore::ProgressFileStream> Open(const char* name, AAA::OpenMode mode) {
        const AAA::OpenAccess access = mode == AAA::OpenMode::Create ? AAA::OpenAccess::Write : AAA::OpenAccess::Read;
        return std::make_unique<Restore::ProgressFileStream>(WidePath(dir / name), mode, access);
    }

    static constexpr size_t kImageSize = 3 * AAA::kCopyPieceSize + 1234;
    TestSupport::TempDir dir{"aaafilecopy"};
};

TEST_P(FileToFileCopy, UnalignedExtentsAcrossPiecesArriveIntact) {
    auto card = Open("card.img", AAA::OpenMode::OpenExisting);
    card->blockSize = 512;
    {
        auto out = Open("out.bin", AAA::OpenMode::Create);
        AAA::CopyExtent(*card, 777, 2 * AAA::kCopyPieceSize + 5, *out);
        AAA::CopyExtent(*card, 3, 10, *out); // a second extent goes on after the first
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(dir / "out.bin"), Slice(777, 2 * AAA::kCopyPieceSize + 5) + Slice(3, 10));
    // The source still reads correctly wherever it is sent next.
    card->Seek(100, AAA::SeekBegin);
    char bytes[4] = {};
    ASSERT_EQ(card->Read(bytes, 4), 4u);
    EXPECT_EQ(std::string(bytes, 4), Slice(100, 4));
}

TEST_P(FileToFileCopy, SourceEndingEarlyRaisesUnexpectedEof) {
    auto card = Open("card.img", AAA::OpenMode::OpenExisting);
    auto out = Open("out.bin", AAA::OpenMode::Create);
    EXPECT_THROW(AAA::CopyExtent(*card, kImageSize - 10, 20, *out), AAA::UnexpectedEofException);
    EXPECT_EQ(TestSupport::ReadFileBytes(dir / "out.bin"), Slice(kImageSize - 10, 10));
}

TEST_P(FileToFileCopy, WrittenBytesMoveTheProgressAndSeeTheCancel) {
    Restore::JobProgress job;
    Restore::CurrentJob = &job;
    Restore::SetProgressTotal(4 * AAA::kCopyPieceSize);
    auto card = Open("card.img", AAA::OpenMode::OpenExisting);
    {
        auto out = Open("out.bin", AAA::OpenMode::Create);
        AAA::CopyExtent(*card, 0, 2 * AAA::kCopyPieceSize, *out);
        EXPECT_EQ(Restore::ProgressWritten.load(), 2 * AAA::kCopyPieceSize);
        EXPECT_EQ(job.percent.load(), 50);
        job.cancel = 1;
        EXPECT_THROW(AAA::CopyExtent(*card, 0, AAA::kCopyPieceSize, *out), AAA::CancellationException);
    }
    Restore::CurrentJob = nullptr;
    Restore::SetProgressTotal(0);
}

INSTANTIATE_TEST_SUITE_P(KernelAndPlainCopies, FileToFileCopy, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "InKernel" : "ReadWrite"; });

class CopyToNewFile : public ::testing::Test {
protected:
    void SetUp() override {
        openCalls = 0;
        AAA::FileStream::SetOpenFunctionForTesting(&CountingOpen);
        AAA::FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds(0));
    }
    void TearDown() override {
        AAA::FileStream::SetOpenFunctionForTesting(nullptr);
        AAA::FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds(100));
        Restore::CurrentJob = nullptr;
        Restore::SetProgressTotal(0);
    }

    TestSupport::TempDir dir{"aaacopy"};
    fs::path target = dir / "MOV001.MTS";
    AAA::MemoryStream source{PatternVector(300000)};
};

TEST_F(CopyToNewFile, WritesANewFile) {
    AAA::CopyExtentToNewFile(source, 1234, 200000, WidePath(target));
    EXPECT_EQ(TestSupport::ReadFileBytes(target), Slice(1234, 200000));
}

TEST_F(CopyToNewFile, ExistingFileIsNeverTouched) {
    TestSupport::WriteFileBytes(target, "precious");
    EXPECT_NO_THROW(AAA::CopyExtentToNewFile(source, 0, 1000, WidePath(target)));
    EXPECT_EQ(TestSupport::ReadFileBytes(target), "precious");
    EXPECT_EQ(openCalls, 0); // the existence test comes first
}

TEST_F(CopyToNewFile, ExistingFolderOrLinkIsLeftAlone) {
    fs::create_directory(target);
    EXPECT_NO_THROW(AAA::CopyExtentToNewFile(source, 0, 1000, WidePath(target)));
    EXPECT_TRUE(fs::is_directory(target));

    const fs::path link = dir / "link.MTS";
    const fs::path pointee = dir / "pointee";
    fs::create_symlink(pointee, link); // dangling
    EXPECT_NO_THROW(AAA::CopyExtentToNewFile(source, 0, 1000, WidePath(link)));
    EXPECT_FALSE(fs::exists(pointee));
    EXPECT_EQ(openCalls, 0);
}

TEST_F(CopyToNewFile, FileAppearingDuringTheCopyIsNotOverwritten) {
    racePath = target.c_str();
    AAA::FileStream::SetOpenFunctionForTesting(&RacingOpen);
    EXPECT_THROW(AAA::CopyExtentToNewFile(source, 0, 1000, WidePath(target)), AAA::IOException);
    EXPECT_EQ(TestSupport::ReadFileBytes(target), "theirs");
    EXPECT_EQ(openCalls, 1);
}

TEST_F(CopyToNewFile, CancelledCopyLeavesNoFile) {
    Restore::JobProgress job;
    Restore::CurrentJob = &job;
    Restore::SetProgressTotal(200000);
    job.cancel = 1;
    AAATest::LogCapture log(8);
    EXPECT_THROW(AAA::CopyExtentToNewFile(source, 0, 200000, WidePath(target)), AAA::CancellationException);
    EXPECT_FALSE(fs::exists(target));
    EXPECT_NE(log.Text().find("\nCANCELED\n"), std::string::npos);
}

TEST_F(CopyToNewFile, OtherFailuresLeaveNoPartialFile) {
    AAA::MemoryStream shortSource(PatternVector(1000));
    EXPECT_THROW(AAA::CopyExtentToNewFile(shortSource, 0, 5000, WidePath(target)), AAA::UnexpectedEofException);
    EXPECT_FALSE(fs::exists(target));
}

// ---- Folders, deletion, existence ------------------------------------------------

TEST(MakeDirectoryIfMissing, CreatesOnceAndAcceptsAnExistingFolder) {
    TestSupport::TempDir dir("aaadir");
    const fs::path folder = dir / "DCIM";
    AAA::MakeDirectoryIfMissing(WidePath(folder));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_NO_THROW(AAA::MakeDirectoryIfMissing(WidePath(folder)));
}

TEST(MakeDirectoryIfMissing, PlainFileOrMissingParentFails) {
    AAATest::EnglishLocale english;
    TestSupport::TempDir dir("aaadir");
    TestSupport::WriteFileBytes(dir / "DCIM", "file");
    try {
        AAA::MakeDirectoryIfMissing(WidePath(dir / "DCIM"));
        FAIL() << "no exception";
    } catch (const AAA::IOException& e) {
        EXPECT_EQ(AAA::ToUtf8(e.Message()), "The error occurred while reading or writing the file.");
    }
    EXPECT_THROW(AAA::MakeDirectoryIfMissing(WidePath(dir / "no" / "parent")), AAA::FileNotFoundException);
}

TEST(DeleteFileForced, RemovesReadOnlyFiles) {
    TestSupport::TempDir dir("aaadel");
    const fs::path file = dir / "ro.bin";
    TestSupport::WriteFileBytes(file, "x");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    AAA::DeleteFileForced(WidePath(file));
    EXPECT_FALSE(fs::exists(file));
}

TEST(DeleteFileForced, IgnoresMissingFilesAndLeavesFolders) {
    TestSupport::TempDir dir("aaadel");
    EXPECT_NO_THROW(AAA::DeleteFileForced(WidePath(dir / "absent")));
    fs::create_directory(dir / "folder");
    EXPECT_NO_THROW(AAA::DeleteFileForced(WidePath(dir / "folder")));
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
}

TEST(PathExists, AnythingOccupyingThePathCounts) {
    TestSupport::TempDir dir("aaaexists");
    EXPECT_FALSE(AAA::PathExists(WidePath(dir / "none")));
    TestSupport::WriteFileBytes(dir / "file", "");
    fs::create_directory(dir / "folder");
    fs::create_symlink(dir / "none", dir / "dangling");
    EXPECT_TRUE(AAA::PathExists(WidePath(dir / "file")));
    EXPECT_TRUE(AAA::PathExists(WidePath(dir / "folder")));
    EXPECT_TRUE(AAA::PathExists(WidePath(dir / "dangling")));
}

} // namespace
