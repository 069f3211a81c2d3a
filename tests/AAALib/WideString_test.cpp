#include "AAA_WideString.h"

#include <string>

#include <gtest/gtest.h>

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(WideStringRoundTrip, AsciiBmpAndSupplementary) {
    EXPECT_EQ(AAA::ToUtf8(u"MOV00001.MTS"), "MOV00001.MTS");
    EXPECT_EQ(AAA::ToUtf8(u"日本語"), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");
    EXPECT_EQ(AAA::ToUtf8(u"\u00E9"), "\xC3\xA9");
    // U+1F600 as a surrogate pair <-> one four-byte sequence.
    EXPECT_EQ(AAA::ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(AAA::FromUtf8("\xF0\x9F\x98\x80"), u"\U0001F600");
    for (const std::u16string text : {u"", u"a/b c", u"写真\U00020000x", u"\uFFFF\u0800\u07FF\u0080"})
        EXPECT_EQ(AAA::FromUtf8(AAA::ToUtf8(text)), text);
}

TEST(WideStringRoundTrip, EmbeddedNulIsKept) {
    const std::u16string withNul(u"a\0b", 3);
    EXPECT_EQ(AAA::ToUtf8(withNul), std::string("a\0b", 3));
    EXPECT_EQ(AAA::FromUtf8(std::string("a\0b", 3)), withNul);
}

TEST(ToUtf8, LoneSurrogatesBecomeReplacement) {
    const char16_t highAtEnd[] = {u'a', 0xD83D, 0};
    const char16_t highThenLetter[] = {0xD83D, u'b', 0};
    const char16_t loneLow[] = {0xDE00, 0};
    const char16_t reversedPair[] = {0xDE00, 0xD83D, 0};
    EXPECT_EQ(AAA::ToUtf8(highAtEnd), "a" + kReplacement);
    EXPECT_EQ(AAA::ToUtf8(highThenLetter), kReplacement + "b");
    EXPECT_EQ(AAA::ToUtf8(loneLow), kReplacement);
    EXPECT_EQ(AAA::ToUtf8(reversedPair), kReplacement + kReplacement);
}

TEST(FromUtf8, InvalidSequencesBecomeReplacement) {
    EXPECT_EQ(AAA::FromUtf8("\x80"), u"\uFFFD");                  // stray continuation
    EXPECT_EQ(AAA::FromUtf8("a\xE6\x97"), u"a\uFFFD\uFFFD");      // truncated at the end
    EXPECT_EQ(AAA::FromUtf8("\xE6" "A"), u"\uFFFD" "A");          // broken sequence keeps the next letter
    EXPECT_EQ(AAA::FromUtf8("\xC0\xAF"), u"\uFFFD");              // overlong '/'
    EXPECT_EQ(AAA::FromUtf8("\xED\xA0\x80"), u"\uFFFD");          // encoded surrogate
    EXPECT_EQ(AAA::FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD");      // above U+10FFFF
    EXPECT_EQ(AAA::FromUtf8("\xFF" "z"), u"\uFFFD" "z");          // never a lead byte
    // The valid twin of the overlong and the surrogate.
    EXPECT_EQ(AAA::FromUtf8("/\xED\x9F\xBF"), u"/\uD7FF");
}

TEST(IsWellFormedUtf16, OnlyProperPairs) {
    const char16_t pair[] = {0xD83D, 0xDE00, 0};
    const char16_t loneHigh[] = {u'x', 0xD83D, 0};
    const char16_t loneLow[] = {0xDE00, u'x', 0};
    EXPECT_TRUE(AAA::IsWellFormedUtf16(u"plain"));
    EXPECT_TRUE(AAA::IsWellFormedUtf16(pair));
    EXPECT_FALSE(AAA::IsWellFormedUtf16(loneHigh));
    EXPECT_FALSE(AAA::IsWellFormedUtf16(loneLow));
}

} // namespace
