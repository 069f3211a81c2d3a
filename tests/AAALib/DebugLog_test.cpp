#include "AAA_DebugLog.h"

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "LogCapture.h"
#include "support/TempDir.h"

namespace {

using AAATest::LogCapture;

void WriteEveryLevel() {
    for (int level = 0; level <= 10; ++level)
        AAA::DebugLog(level, "level %d\n", level);
}

TEST(DebugLogThreshold, DefaultThresholdWritesNothing) {
    EXPECT_EQ(AAA::LogThreshold.load(), 0);
    LogCapture log(0);
    WriteEveryLevel();
    EXPECT_EQ(log.Text(), "");
}

TEST(DebugLogThreshold, WritesOnlyLevelsBelowThreshold) {
    {
        LogCapture log(4); // throw-site lines only
        WriteEveryLevel();
        EXPECT_EQ(log.Text(), "level 0\nlevel 1\nlevel 2\nlevel 3\n");
    }
    {
        LogCapture log(7); // results and reports, no traces
        AAA::DebugLog(3, "three\n");
        AAA::DebugLog(6, "six\n");
        AAA::DebugLog(7, "seven\n");
        EXPECT_EQ(log.Text(), "three\nsix\n");
    }
    {
        LogCapture log(8);
        AAA::DebugLog(7, "seven\n");
        EXPECT_EQ(log.Text(), "seven\n");
    }
}

TEST(DebugLogThreshold, CeilingLowersAndRestores) {
    LogCapture log(8);
    {
        AAA::LogThresholdCeiling quiet(6);
        EXPECT_EQ(AAA::LogThreshold.load(), 6);
        AAA::DebugLog(7, "dump\n");
        AAA::DebugLog(5, "report\n");
    }
    EXPECT_EQ(AAA::LogThreshold.load(), 8);
    AAA::DebugLog(7, "after\n");
    EXPECT_EQ(log.Text(), "report\nafter\n");

    AAA::LogThreshold = 4;
    {
        AAA::LogThresholdCeiling quiet(6); // never raises
        EXPECT_EQ(AAA::LogThreshold.load(), 4);
    }
    EXPECT_EQ(AAA::LogThreshold.load(), 4);
}

TEST(LogFormat, WideAndNarrowStringsByConvention) {
    const std::u16string wide = u"ワイド";
    EXPECT_EQ(AAA::FormatLogText("%s|%S", {wide, "narrow"}), "ワイド|narrow");
    EXPECT_EQ(AAA::FormatLogText("%s", {u"literal"}), "literal");
    // Arguments are typed, so a swapped conversion still renders the text.
    EXPECT_EQ(AAA::FormatLogText("%S|%s", {u"w", std::string("n")}), "w|n");
    EXPECT_EQ(AAA::FormatLogText("[%5s]", {"ab"}), "[   ab]");
}

TEST(LogFormat, LoneSurrogateInWideArgumentBecomesReplacement) {
    const char16_t broken[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(AAA::FormatLogText("%s", {broken}), "a\xEF\xBF\xBD" "b");
}

TEST(LogFormat, SixtyFourBitConversions) {
    EXPECT_EQ(AAA::FormatLogText("%I64X", {uint64_t{0x123456789ABCDEF0}}), "123456789ABCDEF0");
    EXPECT_EQ(AAA::FormatLogText("%I64d", {int64_t{-5000000000}}), "-5000000000");
    EXPECT_EQ(AAA::FormatLogText("%016I64X", {uint64_t{0xAB}}), "00000000000000AB");
    // Without the size prefix only 32 bits are shown, as printf would.
    EXPECT_EQ(AAA::FormatLogText("%X", {uint64_t{0x1234567890}}), "34567890");
}

TEST(LogFormat, IntegersCharactersAndPercent) {
    EXPECT_EQ(AAA::FormatLogText("%d %u %02x %c %%", {-7, 7u, uint8_t{0x0A}, 'Z'}), "-7 7 0a Z %");
    EXPECT_EQ(AAA::FormatLogText("0x%d", {int32_t{21}}), "0x21");
}

TEST(LogFormat, MissingArgumentEndsTheText) {
    EXPECT_EQ(AAA::FormatLogText("a %d b %d c", {1}), "a 1 b ");
    EXPECT_EQ(AAA::FormatLogText(nullptr, {}), "");
}

TEST(LogFormat, LongMessagesAreWrittenWhole) {
    LogCapture log(8);
    const std::string longText(5000, 'x');
    AAA::DebugLog(3, "%S\n", longText);
    EXPECT_EQ(log.Text(), longText + "\n");
}

TEST(LogSink, DefaultsToStandardOutput) {
    AAA::SetLogSink(nullptr);
    EXPECT_EQ(AAA::LogSink(), stdout);
}

TEST(LogSink, LogFileIsAppendedToAndReleased) {
    TestSupport::TempDir dir("aaalog");
    const auto path = dir / "run.log";
    TestSupport::WriteFileBytes(path, "earlier\n");
    ASSERT_TRUE(AAA::SetLogFile(path.string()));
    EXPECT_NE(AAA::LogSink(), stdout);
    AAA::LogThreshold = 8;
    AAA::DebugLog(3, "%S(%d): %S\n", "AAALib/AAA_X", 5, "IOException()");
    AAA::DebugLog(9, "not written\n");
    AAA::SetLogSink(nullptr);
    AAA::LogThreshold = 0;
    EXPECT_EQ(AAA::LogSink(), stdout);
    EXPECT_EQ(TestSupport::ReadFileBytes(path), "earlier\nAAALib/AAA_X(5): IOException()\n");
}

TEST(LogSink, UnopenableLogFileKeepsCurrentSink) {
    LogCapture log(8);
    const std::FILE* before = AAA::LogSink();
    EXPECT_FALSE(AAA::SetLogFile("/nonexistent-dir/for/sure/log.txt"));
    EXPECT_EQ(AAA::LogSink(), before);
    AAA::DebugLog(3, "still here\n");
    EXPECT_EQ(log.Text(), "still here\n");
}

TEST(LogThrowSite, FormatsFileLineAndException) {
    LogCapture log(4);
    AAA::LogThrowSite("AAALib/AAA_BitReader", 47, "UnexpectedEofException()");
    EXPECT_EQ(log.Text(), "AAALib/AAA_BitReader(47): UnexpectedEofException()\n");
}

} // namespace
