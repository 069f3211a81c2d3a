// The check helper: the literal's text gives the value, and the report names
// the calling line unless a fixed one is given.
#include "AAA_Check.h"

#include <string>

#include <gtest/gtest.h>

#include "LogCapture.h"

namespace {

using AAATest::LoggedTest;

static_assert(AAA::Literal("512U").value == 512);
static_assert(AAA::Literal("0x55AA").value == 0x55AA);
static_assert(AAA::Literal("0ULL").value == 0);
static_assert(AAA::Literal("0x0FFFFFF6").value == 0x0FFFFFF6);

struct Word : AAA::Block {
    Word() : AAA::Block("Boot") { SetMembers({&Signature}); AAA::Block::Link(); }
    AAA::Field::LE Signature{16, "Signature"};
};

TEST_F(LoggedTest, CheckReportsTheLiteralAsWrittenAndTheCallingLine) {
    Word word;
    word.Signature.SetValue(0x55AA);
    log.Clear();
    EXPECT_TRUE(AAA::Check(word.Signature, "0x55AA", "AAALib/Test"));
    EXPECT_EQ(log.Text(), "");

    word.Signature.SetValue(0xAA55);
    log.Clear();
    const int line = __LINE__ + 1;
    EXPECT_FALSE(AAA::Check(word.Signature, "0x55AA", "AAALib/Test"));
    EXPECT_EQ(log.Text(), "AAALib/Test(" + std::to_string(line) + "):\n"
                          "      Name: Boot.Signature\n"
                          "  Expected: 0x55aa \"21930\" (0x55AA)\n"
                          "    Actual: 0xaa55 \"43605\"\n");

    log.Clear();
    EXPECT_FALSE(AAA::Check(word.Signature, "21930U", {"AAALib/Test", 161}));
    EXPECT_NE(log.Text().find("AAALib/Test(161):\n"), std::string::npos) << log.Text();
    EXPECT_NE(log.Text().find("(21930U)\n"), std::string::npos) << log.Text();
}

} // namespace
