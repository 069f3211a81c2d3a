#include "AAA_Utility.h"

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

namespace {

TEST(FormatString, FormatsLikePrintf) {
    EXPECT_EQ(AAA::FormatString("%u", 512u), "512");
    EXPECT_EQ(AAA::FormatString("%s-%04X", "MOV", 0x2Au), "MOV-002A");
    EXPECT_EQ(AAA::FormatString("plain"), "plain");
    EXPECT_EQ(AAA::FormatString("%s", ""), "");
}

TEST(FormatString, LongResultIsComplete) {
    const std::string long_(3000, 'q');
    EXPECT_EQ(AAA::FormatString("<%s>", long_.c_str()), "<" + long_ + ">");
}

TEST(FormatString, FailureThrowsWithTheFormatAsText) {
    // A wide character the C locale cannot encode makes the formatting fail.
    const wchar_t unencodable[] = {0x4E00, 0};
    try {
        AAA::FormatString("name=%ls", unencodable);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "name=%ls");
    }
}

} // namespace
