// A source that fails to read some sectors: each read is retried sector by
// sector, zeros stand in for the bad ones, and the stream remembers them.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "AAA_ByteRanges.h"
#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "FileStreamTestSupport.h"
#include "common/FaultyIo.h"

namespace {

using AAA::ByteRange;
using AAATest::PatternBytes;
namespace fs = std::filesystem;

constexpr uint64_t kFileSize = 256 * 1024;

struct SalvageCase {
    const char* what;
    uint32_t blockSize;
    std::vector<std::pair<uint64_t, uint64_t>> bad; // failing byte ranges of the file
    uint64_t readAt;
    uint32_t readCount;
    std::vector<ByteRange> zeroed; // what the stream then reports, absolute
};

std::vector<SalvageCase> SalvageCases() {
    return {
        {"one bad sector in a large read", 512, {{4096, 4608}}, 0, 128 * 1024, {{4096, 512}}},
        {"a small read through the read-ahead", 512, {{70000, 70001}}, 69990, 20, {{69632, 512}}},
        {"two sectors apart, larger sectors", 4096, {{8192, 8193}, {40960, 40961}}, 4096, 64 * 1024,
         {{8192, 4096}, {40960, 4096}}},
        {"an unset block size reads around in 512-byte units", 1, {{1000, 1001}}, 0, 4096, {{512, 512}}},
        {"a read that starts inside a bad sector", 512, {{4096, 4608}}, 4100, 1000, {{4096, 512}}},
    };
}

TEST(UnreadableSectors, ZerosStandInForExactlyTheBadSectors) {
    TestSupport::TempDir dir("kalvory-unreadable");
    const std::string bytes = PatternBytes(kFileSize);
    TestSupport::WriteFileBytes(dir / "card.img", bytes);
    for (const SalvageCase& c : SalvageCases()) {
        KalvoryTest::ScopedReadFaults faults(dir / "card.img");
        faults.faults.bad = c.bad;
        AAA::FileStream stream(AAATest::WidePath(dir / "card.img"), AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        stream.blockSize = c.blockSize;
        std::string got(c.readCount, '\x55');
        stream.Seek(static_cast<int64_t>(c.readAt), AAA::SeekBegin);
        ASSERT_EQ(stream.Read(got.data(), c.readCount), c.readCount) << c.what;
        std::string expected = bytes.substr(c.readAt, c.readCount);
        for (const ByteRange& zero : c.zeroed)
            for (uint64_t i = zero.start; i < zero.End(); ++i)
                if (i >= c.readAt && i < c.readAt + c.readCount)
                    expected[i - c.readAt] = '\0';
        EXPECT_TRUE(got == expected) << c.what;
        EXPECT_EQ(stream.Unreadable().Within(0, kFileSize), c.zeroed) << c.what;
        EXPECT_EQ(stream.Position(), static_cast<int64_t>(c.readAt + c.readCount)) << c.what;

        // Known bad sectors are not asked for again: reading it all once more
        // fails no further read.
        const int failedBefore = faults.faults.failedReads.load();
        std::string again(kFileSize, '\0');
        stream.Seek(0, AAA::SeekBegin);
        EXPECT_EQ(stream.Read(again.data(), static_cast<uint32_t>(kFileSize)), kFileSize) << c.what;
        EXPECT_EQ(faults.faults.failedReads.load(), failedBefore) << c.what;
    }
}

struct FaultClassCase {
    const char* what;
    int error;
    bool lostFromStart; // every read fails with ENXIO
    int expectedMessage;
};

TEST(UnreadableSectors, ASourceThatGoesAwayOrFailsOtherwiseStillRaises) {
    TestSupport::TempDir dir("kalvory-unreadable");
    TestSupport::WriteFileBytes(dir / "card.img", PatternBytes(8192));
    const FaultClassCase cases[] = {
        {"device gone", ENODEV, false, 115},
        {"reader unplugged", ENXIO, true, 115},
        {"no medium", ENOMEDIUM, false, 115},
        {"not a medium error", EACCES, false, 106},
    };
    for (const FaultClassCase& c : cases) {
        KalvoryTest::ScopedReadFaults faults(dir / "card.img");
        faults.faults.bad = {{4096, 4097}};
        faults.faults.error = c.error;
        if (c.lostFromStart)
            faults.faults.lostFrom = 0;
        AAA::FileStream stream(AAATest::WidePath(dir / "card.img"), AAA::OpenMode::OpenExisting, AAA::OpenAccess::Read);
        stream.blockSize = 512;
        char buffer[8192];
        try {
            stream.Read(buffer, sizeof buffer);
            ADD_FAILURE() << c.what << ": nothing raised";
        } catch (const AAA::ExceptionBase& error) {
            EXPECT_EQ(error.MessageId(), c.expectedMessage) << c.what;
            EXPECT_EQ(error.ErrorNumber(), c.lostFromStart ? ENXIO : c.error) << c.what;
        }
        EXPECT_TRUE(stream.Unreadable().Empty()) << c.what;
    }
}

TEST(ByteRangeSet, MergesAndAnswersOverlaps) {
    AAA::ByteRangeSet set;
    set.Add(100, 10);
    set.Add(120, 10);
    set.Add(110, 10); // joins both
    set.Add(300, 0);  // nothing
    set.Add(200, 50);
    set.Add(190, 20); // overlaps the front
    EXPECT_EQ(set.Within(0, 1000), (std::vector<ByteRange>{{100, 30}, {190, 60}}));
    EXPECT_EQ(set.Bytes(), 90u);
    EXPECT_EQ(set.Within(125, 70), (std::vector<ByteRange>{{125, 5}, {190, 5}}));
    EXPECT_TRUE(set.Covers(100, 30));
    EXPECT_FALSE(set.Covers(100, 31));
    EXPECT_TRUE(set.Intersects(129, 100));
    EXPECT_FALSE(set.Intersects(130, 60));
}

} // namespace
