// Deleted files whose data other files now hold: listed as overwritten with
// where their data stops matching, left out of a recovery unless asked for,
// and flagged in the report either way.
#include <gtest/gtest.h>

#include <regex>

#include "CliTestSupport.h"
#include "support/InterleavedCard.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;

int Count(const std::string& text, const std::regex& pattern) {
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

class Overwritten : public ::testing::Test {
protected:
    void SetUp() override { card.image.WriteTo(image); }

    TestSupport::TempDir dir{"kalvory-overwritten"};
    const TestSupport::InterleavedCard card = TestSupport::BuildInterleavedCard(24, 2, 11);
    const fs::path image = dir / "card.img";
};

TEST_F(Overwritten, TheListingShowsThemAndWhereTheirDataStopsMatching) {
    const Outcome json = RunKalvory({"list", "--json", image.string()}, dir.Path());
    ASSERT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(Count(json.out, std::regex(R"("deleted": true, "carved": false, [^\n]*"overwritten": true, "matchesUpTo": 0\})")),
              card.overwrittenStills)
        << json.out;
    EXPECT_EQ(Count(json.out, std::regex(R"("overwritten": false)")), static_cast<int>(card.expected.size()) + 6)
        << "every file and the six folders";

    const Outcome text = RunKalvory({"list", image.string()}, dir.Path());
    EXPECT_EQ(Count(text.out, std::regex(R"(deleted,overwritten,not-saved  DCIM/100CDPFP/IMGA\d{4}\.JPG  \(its data stops matching at 0x0\))")),
              card.overwrittenStills)
        << text.out;
}

TEST_F(Overwritten, ARecoveryLeavesThemOutUnlessToldToKeepThem) {
    const fs::path out = dir / "out";
    const Outcome recovered = RunKalvory({"recover", image.string(), out.string()}, dir.Path());
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_EQ(RecoveredFilesUnder(out), card.expected);
    EXPECT_NE(recovered.out.find(std::to_string(card.overwrittenStills) + " deleted files were not saved"),
              std::string::npos)
        << recovered.out;
    const std::string report = ReadText(out / "kalvory-report.json");
    EXPECT_EQ(Count(report, std::regex(R"("overwritten": true, "matchesUpTo": 0, "status": "overwritten", "written": 0)")),
              card.overwrittenStills)
        << report;
    EXPECT_NE(report.find("\"overwritten\": " + std::to_string(card.overwrittenStills) + "}"), std::string::npos);

    const fs::path kept = dir / "kept";
    const Outcome all = RunKalvory({"recover", "--keep-overwritten", image.string(), kept.string()}, dir.Path());
    ASSERT_EQ(all.exitCode, 0) << all.err;
    const std::map<std::string, std::string> files = RecoveredFilesUnder(kept);
    EXPECT_EQ(files.size(), card.expected.size() + static_cast<size_t>(card.overwrittenStills));
    for (const auto& [path, bytes] : card.expected)
        EXPECT_TRUE(files.count(path) == 1 && files.at(path) == bytes) << path;
    EXPECT_NE(all.out.find(std::to_string(card.overwrittenStills) + " deleted files were saved although"),
              std::string::npos)
        << all.out;
    EXPECT_EQ(Count(ReadText(kept / "kalvory-report.json"),
                    std::regex(R"("overwritten": true, "matchesUpTo": 0, "status": "written")")),
              card.overwrittenStills);
}

} // namespace
