#include "AAA_FileStream.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>

#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "FileStreamTestSupport.h"
#include "LogCapture.h"
#include "support/TempDir.h"

namespace {

using AAA::FileStream;
using AAA::OpenAccess;
using AAA::OpenMode;
using AAATest::LogCapture;
using AAATest::PatternByte;
using AAATest::PatternBytes;
using AAATest::RecordingFileStream;
using AAATest::WidePath;

// ---- Opening ------------------------------------------------------------------

std::atomic<int> openCalls{0};
std::atomic<int> lastFlags{0};
std::atomic<int> failuresLeft{0};
std::atomic<int> failWith{0};

int RecordingOpen(const char* path, int flags, mode_t mode) {
    ++openCalls;
    lastFlags = flags;
    if (failuresLeft > 0) {
        --failuresLeft;
        errno = failWith;
        return -1;
    }
    return ::open(path, flags, mode);
}

class FileStreamOpen : public ::testing::Test {
protected:
    void SetUp() override {
        openCalls = 0;
        lastFlags = 0;
        failuresLeft = 0;
        FileStream::SetOpenFunctionForTesting(&RecordingOpen);
        FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds(0));
        TestSupport::WriteFileBytes(existing, "keep me");
    }
    void TearDown() override {
        FileStream::SetOpenFunctionForTesting(nullptr);
        FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds(100));
    }

    TestSupport::TempDir dir{"aaafs"};
    std::filesystem::path existing = dir / "existing.bin";
};

TEST_F(FileStreamOpen, SourcesOpenReadOnly) {
    FileStream source(WidePath(existing), OpenMode::OpenExisting, OpenAccess::Read);
    EXPECT_EQ(lastFlags & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(lastFlags & (O_CREAT | O_TRUNC | O_APPEND), 0);
    EXPECT_NE(lastFlags & O_CLOEXEC, 0);
}

TEST_F(FileStreamOpen, ModeAndAccessChooseTheFlags) {
    struct Case {
        int mode, access, accessFlags;
        bool creates;
    };
    const Case cases[] = {
        {1, 1, O_RDWR, false}, {1, 2, O_RDWR, false}, {0, 1, O_RDWR, true}, {0, 2, O_WRONLY, true}};
    int n = 0;
    for (const Case& c : cases) {
        const auto path = c.creates ? dir / ("new" + std::to_string(n++)) : existing;
        FileStream stream(WidePath(path), c.mode, c.access);
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " access " << c.access);
        EXPECT_EQ(lastFlags & O_ACCMODE, c.accessFlags);
        EXPECT_EQ((lastFlags & O_CREAT) != 0, c.creates);
        EXPECT_EQ((lastFlags & O_EXCL) != 0, c.creates);
        EXPECT_EQ(lastFlags & O_TRUNC, 0); // nothing is ever truncated
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(existing), "keep me");
}

TEST_F(FileStreamOpen, CreatingOverAnExistingFileFailsAndLeavesItAlone) {
    for (OpenAccess access : {OpenAccess::Write, OpenAccess::ReadWrite}) {
        openCalls = 0;
        EXPECT_THROW(FileStream(WidePath(existing), OpenMode::Create, access), AAA::IOException);
        EXPECT_EQ(openCalls, 1); // an existing file is final: no retries
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(existing), "keep me");
}

TEST_F(FileStreamOpen, InvalidArgumentsLogTheirLineAndOpenNothing) {
    struct Case {
        std::u16string path;
        int mode, access, line;
    };
    const std::u16string somePath = WidePath(dir / "x");
    const Case cases[] = {
        {u"", 1, 0, 19},      {somePath, 0, 0, 31}, {somePath, 0, 3, 31},  {somePath, 1, 3, 43},
        {somePath, 1, -1, 43}, {somePath, 2, 0, 48}, {somePath, -1, 1, 48},
    };
    for (const Case& c : cases) {
        LogCapture log(4);
        EXPECT_THROW(FileStream(c.path, c.mode, c.access), AAA::ArgumentException);
        EXPECT_EQ(log.Text(), "AAALib/AAA_FileStream(" + std::to_string(c.line) + "): ArgumentException()\n");
    }
    EXPECT_EQ(openCalls, 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "x"));
}

TEST_F(FileStreamOpen, FailedOpenIsRetriedTenTimes) {
    failuresLeft = 1000;
    failWith = EACCES;
    EXPECT_THROW(FileStream(WidePath(existing), OpenMode::OpenExisting, OpenAccess::Read), AAA::IOException);
    EXPECT_EQ(openCalls, 11);

    openCalls = 0;
    failWith = ENOENT;
    EXPECT_THROW(FileStream(WidePath(existing), OpenMode::OpenExisting, OpenAccess::Read), AAA::FileNotFoundException);
    EXPECT_EQ(openCalls, 11);
}

TEST_F(FileStreamOpen, TransientFailureRecovers) {
    failuresLeft = 3;
    failWith = EBUSY;
    FileStream stream(WidePath(existing), OpenMode::OpenExisting, OpenAccess::Read);
    EXPECT_EQ(openCalls, 4);
    char text[7] = {};
    EXPECT_EQ(stream.Read(text, 7), 7u);
    EXPECT_EQ(std::string(text, 7), "keep me");
}

TEST_F(FileStreamOpen, RetriesWaitBetweenAttempts) {
    FileStream::SetOpenRetryDelayForTesting(std::chrono::milliseconds(5));
    failuresLeft = 1000;
    failWith = EIO;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(FileStream(WidePath(existing), OpenMode::OpenExisting, OpenAccess::Read), AAA::IOException);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
}

TEST_F(FileStreamOpen, MissingFileIsFileNotFound) {
    EXPECT_THROW(FileStream(WidePath(dir / "absent"), OpenMode::OpenExisting, OpenAccess::Read),
                 AAA::FileNotFoundException);
}

// ---- Seeking and reading --------------------------------------------------------

class FileStreamData : public ::testing::Test {
protected:
    void Make(uint64_t size) {
        size_ = size;
        TestSupport::WriteFileBytes(path, PatternBytes(size));
        stream = std::make_unique<RecordingFileStream>(WidePath(path), OpenMode::OpenExisting, OpenAccess::Read);
    }
    // Reads `count` bytes and checks them against the pattern at `offset`.
    void ExpectBytesAt(uint64_t offset, uint32_t count) {
        std::string got(count, '\0');
        ASSERT_EQ(stream->Read(got.data(), count), count);
        for (uint32_t i = 0; i < count; ++i)
            ASSERT_EQ(static_cast<uint8_t>(got[i]), PatternByte(offset + i)) << "offset " << offset + i;
    }
    void ExpectOnlyAlignedSeeks(uint32_t block) {
        for (const auto& call : stream->seeks) {
            if (call.whence == SEEK_SET) {
                EXPECT_EQ(call.offset % block, 0) << "file moved to " << call.offset;
            }
        }
    }

    TestSupport::TempDir dir{"aaafs"};
    std::filesystem::path path = dir / "data.bin";
    uint64_t size_ = 0;
    std::unique_ptr<RecordingFileStream> stream;
};

TEST_F(FileStreamData, UnalignedSeekMovesToBlockBelowAndReadsForward) {
    Make(4096);
    stream->blockSize = 512;
    EXPECT_EQ(stream->Seek(1000, AAA::SeekBegin), 1000);
    ASSERT_EQ(stream->seeks.size(), 1u);
    EXPECT_EQ(stream->seeks[0].offset, 512);
    EXPECT_EQ(stream->seeks[0].whence, SEEK_SET);
    EXPECT_EQ(stream->Position(), 1000);
    ExpectBytesAt(1000, 16);
}

TEST_F(FileStreamData, SeekToCurrentPositionFromStartTouchesNothing) {
    Make(4096);
    stream->blockSize = 512;
    EXPECT_EQ(stream->Seek(0, AAA::SeekBegin), 0); // fresh stream, before blockSize matters
    EXPECT_EQ(stream->Calls(), 0u);
    stream->Seek(1536, AAA::SeekBegin);
    stream->ClearCalls();
    EXPECT_EQ(stream->Seek(1536, AAA::SeekBegin), 1536);
    EXPECT_EQ(stream->Calls(), 0u);
}

TEST_F(FileStreamData, SeekInsideReadAheadWindowTouchesNothing) {
    Make(300000);
    stream->blockSize = 512;
    ExpectBytesAt(0, 10); // fills the window [0, 64 KiB)
    stream->ClearCalls();
    for (int64_t target : {30000, 512, 65000, 0, 65535}) {
        EXPECT_EQ(stream->Seek(target, AAA::SeekBegin), target);
        ExpectBytesAt(static_cast<uint64_t>(target), 1);
    }
    EXPECT_EQ(stream->Calls(), 0u);
    // Leaving the window moves the file once, to a block boundary.
    EXPECT_EQ(stream->Seek(200000, AAA::SeekBegin), 200000);
    ASSERT_EQ(stream->seeks.size(), 1u);
    EXPECT_EQ(stream->seeks[0].offset, 199680);
    ExpectBytesAt(200000, 100);
}

TEST_F(FileStreamData, EveryOriginMovesTheFileOnlyToBlockMultiples) {
    Make(1 << 20);
    stream->blockSize = 512;
    std::mt19937 random(7);
    int64_t expected = 0;
    for (int step = 0; step < 300; ++step) {
        const int origin = static_cast<int>(random() % 3);
        const int64_t target = static_cast<int64_t>(random() % (size_ - 4096));
        int64_t offset = target;
        if (origin == AAA::SeekCurrent)
            offset = target - expected;
        else if (origin == AAA::SeekEnd)
            offset = target - static_cast<int64_t>(size_);
        SCOPED_TRACE(testing::Message() << "step " << step << " origin " << origin << " offset " << offset);
        ASSERT_EQ(stream->Seek(offset, origin), target);
        const uint32_t count = static_cast<uint32_t>(random() % 3000 + 1);
        ExpectBytesAt(static_cast<uint64_t>(target), count);
        expected = target + count;
    }
    ExpectOnlyAlignedSeeks(512);
}

TEST_F(FileStreamData, SeekFromEndThenReadPastTheWindow) {
    Make(1 << 20);
    ExpectBytesAt(0, 10);
    EXPECT_EQ(stream->Seek(100 - static_cast<int64_t>(size_), AAA::SeekEnd), 100);
    ExpectBytesAt(100, 200000); // runs out of the window and on into the file
}

TEST_F(FileStreamData, NegativeTargetIsAnArgumentError) {
    Make(4096);
    stream->blockSize = 512;
    EXPECT_THROW(stream->Seek(-100, AAA::SeekBegin), AAA::ArgumentException);
    stream->Seek(600, AAA::SeekBegin);
    EXPECT_THROW(stream->Seek(-700, AAA::SeekCurrent), AAA::ArgumentException);
    EXPECT_THROW(stream->Seek(-5000, AAA::SeekEnd), AAA::ArgumentException);
    EXPECT_THROW(stream->Seek(0, 3), AAA::ArgumentException);
}

TEST_F(FileStreamData, LengthKeepsThePosition) {
    Make(4096);
    stream->blockSize = 512;
    for (int64_t position : {0, 1, 1000, 4095, 4096}) {
        stream->Seek(position, AAA::SeekBegin);
        EXPECT_EQ(stream->Length(), 4096);
        EXPECT_EQ(stream->Seek(0, AAA::SeekCurrent), position);
        if (position < 4096) {
            ExpectBytesAt(static_cast<uint64_t>(position), 1);
        }
    }
}

TEST_F(FileStreamData, ByteByByteReadingUsesTheReadAhead) {
    Make(200000);
    for (uint64_t i = 0; i < size_; ++i) {
        uint8_t byte = 0;
        ASSERT_EQ(stream->Read(&byte, 1), 1u);
        ASSERT_EQ(byte, PatternByte(i));
    }
    // Four 64 KiB fills, the last one meeting the end of the file.
    EXPECT_LE(stream->reads.size(), 5u);
    EXPECT_EQ(stream->reads.front(), FileStream::kBufferSize);
}

TEST_F(FileStreamData, LargeReadAfterSmallOneIsContiguous) {
    Make(300000);
    ExpectBytesAt(0, 5);
    ExpectBytesAt(5, 200000);
    ExpectBytesAt(200005, 7);
}

TEST_F(FileStreamData, EndOfFileIsAShortReadNotAnError) {
    Make(1000);
    stream->Seek(990, AAA::SeekBegin);
    char out[64];
    EXPECT_EQ(stream->Read(out, 64), 10u);
    EXPECT_EQ(stream->Read(out, 64), 0u);
    stream->Seek(5000, AAA::SeekBegin);
    EXPECT_EQ(stream->Read(out, 64), 0u);
}

// A medium error is read around (UnreadableSectors_test); any other raises.
TEST_F(FileStreamData, ReadErrorRaisesIOExceptionWithItsLine) {
    Make(1000);
    stream->failReads = true;
    stream->failError = EBADF;
    LogCapture log(4);
    char out[16];
    EXPECT_THROW(stream->Read(out, sizeof out), AAA::IOException);
    EXPECT_EQ(log.Text(), "AAALib/AAA_FileStream(112): IOException()\n");
}

// ---- Writing ------------------------------------------------------------------------

TEST(FileStreamWrite, CreatedFileHoldsWhatWasWritten) {
    TestSupport::TempDir dir("aaafs");
    {
        FileStream out(WidePath(dir / "new.bin"), OpenMode::Create, OpenAccess::Write);
        out.Write("hello ", 6);
        out.Write("world", 5);
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(dir / "new.bin"), "hello world");
}

TEST(FileStreamWrite, WriteAfterReadLandsAtTheLogicalPosition) {
    TestSupport::TempDir dir("aaafs");
    TestSupport::WriteFileBytes(dir / "f", "0123456789abcdef");
    {
        FileStream stream(WidePath(dir / "f"), OpenMode::OpenExisting, OpenAccess::ReadWrite);
        char head[4];
        ASSERT_EQ(stream.Read(head, 4), 4u);
        stream.Write("XY", 2);
        char next = 0;
        ASSERT_EQ(stream.Read(&next, 1), 1u);
        EXPECT_EQ(next, '6');
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(dir / "f"), "0123XY6789abcdef");
}

TEST(FileStreamWrite, FullDeviceRaisesNoSpaceMessage) {
    if (::access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "/dev/full not available";
    AAATest::EnglishLocale english;
    FileStream full(u"/dev/full", OpenMode::OpenExisting, OpenAccess::Write);
    try {
        full.Write("x", 1);
        FAIL() << "no exception";
    } catch (const AAA::IOException& e) {
        EXPECT_EQ(AAA::ToUtf8(e.Message()), "There is no empty area enough for the memory card or the disk.");
    }
}

TEST(FileStreamWrite, ReadOnlySourceRefusesWrites) {
    TestSupport::TempDir dir("aaafs");
    TestSupport::WriteFileBytes(dir / "card", "original");
    {
        FileStream source(WidePath(dir / "card"), OpenMode::OpenExisting, OpenAccess::Read);
        EXPECT_THROW(source.Write("zz", 2), AAA::IOException);
    }
    EXPECT_EQ(TestSupport::ReadFileBytes(dir / "card"), "original");
}

} // namespace
