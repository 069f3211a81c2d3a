// What the command line tells beyond the files: the recovery report, the
// version, and progress as JSON lines for programs.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>

#include "CliTestSupport.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;

class ReportTest : public ::testing::Test {
protected:
    // A card without PRIVATE: a second run into the same folder is allowed.
    fs::path Card() {
        TestSupport::FatImageBuilder builder(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat16));
        builder.AddFile("DCIM/100CDPFP/IMGA0001.JPG", TestSupport::ExifJpeg(6000, 1));
        builder.AddFile("DCIM/100CDPFP/IMGA0002.JPG", TestSupport::ExifJpeg(7000, 2));
        builder.DeleteEntry("DCIM/100CDPFP/IMGA0002.JPG");
        const fs::path card = dir / "card.img";
        builder.Build().WriteTo(card);
        return card;
    }
    Outcome Run(const std::vector<std::string>& arguments) { return RunKalvory(arguments, dir.Path()); }
    TestSupport::TempDir dir{"kalvory-report"};
};

std::string Sha256Of(const fs::path& file) {
    const auto result = TestSupport::RunCommand({"sha256sum", file.string()});
    return result.output.substr(0, 64);
}

TEST_F(ReportTest, TheReportDescribesEveryFileWithTheDigestOfWhatWasWritten) {
    const fs::path out = dir / "out";
    const Outcome first = Run({"recover", Card().string(), out.string()});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out.find("The recovery report is " + (out / "kalvory-report.json").string()), std::string::npos);
    const std::string report = ReadText(out / "kalvory-report.json");
    for (const char* field : {"\"format\": 1", "\"version\": \"0.1.0", "\"sourceBytes\": ", "\"mode\": \"dir-and-sector\"",
                              "\"started\": \"20", "\"ended\": \"20", "\"result\": \"recovered\"", "\"files\": 2"})
        EXPECT_NE(report.find(field), std::string::npos) << field;
    const std::regex target(R"re(\{"path": "([^"]+)"[^\n]*"found": "([a-z-]+)"[^\n]*"status": "written", )re"
                            R"re("written": (\d+), "sha256": "([0-9a-f]{64})")re");
    std::map<std::string, std::string> found;
    for (auto it = std::sregex_iterator(report.begin(), report.end(), target); it != std::sregex_iterator(); ++it) {
        const std::string path = (*it)[1];
        found[path] = (*it)[2];
        EXPECT_EQ((*it)[4], Sha256Of(out / path)) << path;
        EXPECT_EQ(std::stoull((*it)[3]), fs::file_size(out / path)) << path;
    }
    EXPECT_EQ(found, (std::map<std::string, std::string>{{"DCIM/100CDPFP/IMGA0001.JPG", "directory"},
                                                         {"DCIM/100CDPFP/IMGA0002.JPG", "deleted"}}))
        << report;

    // A second run adds nothing and keeps the first report; its own is numbered.
    const Outcome second = Run({"recover", Card().string(), out.string()});
    EXPECT_EQ(second.exitCode, 1) << second.err;
    EXPECT_EQ(ReadText(out / "kalvory-report.json"), report);
    EXPECT_NE(ReadText(out / "kalvory-report (2).json").find("\"already-there\": 2"), std::string::npos);

    const Outcome elsewhere = Run({"recover", "--report", (dir / "mine.json").string(), Card().string(), (dir / "b").string()});
    EXPECT_EQ(elsewhere.exitCode, 0) << elsewhere.err;
    EXPECT_TRUE(fs::exists(dir / "mine.json"));
    EXPECT_FALSE(fs::exists(dir / "b/kalvory-report.json"));
}

TEST_F(ReportTest, VersionAndJsonProgressForPrograms) {
    const Outcome version = Run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("kalvory \\d+\\.\\d+\\.\\d+( \\(commit [0-9a-f]+\\))?\\n")))
        << version.out;

    const fs::path card = dir / "big.img";
    std::ofstream(card).close();
    fs::resize_file(card, 256 << 20);
    if (!TestSupport::HaveFatTools() || TestSupport::MkfsFat(card, {"-F", "32"}).exitCode != 0)
        GTEST_SKIP() << "mkfs.fat is needed";
    TestSupport::RunCommand({"env", "MTOOLS_SKIP_CHECK=1", "mcopy", "-i", card.string(), "/etc/os-release", "::/A.TXT"});
    const Outcome run = Run({"--progress=json", "recover", "--verify", card.string(), (dir / "out").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const std::regex line(R"re(\{"phase": "(verify|save|check)", "percent": (\d+), "bytes": \d+, )re"
                          R"re("files": (null|\d+), "remainingSeconds": (null|\d+)\})re");
    std::map<std::string, int> last;
    std::istringstream lines(run.err);
    int count = 0;
    for (std::string text; std::getline(lines, text); ++count) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(text, match, line)) << text;
        const int percent = std::stoi(match[2]);
        EXPECT_GE(percent, last[match[1]]) << text;
        last[match[1]] = percent;
    }
    EXPECT_GT(count, 2);
    EXPECT_EQ(last["verify"], 100);
    EXPECT_EQ(last["save"], 100);
    EXPECT_EQ(last["check"], 100) << "--verify reads the files back";
    const std::string report = ReadText(dir / "out" / "kalvory-report.json");
    EXPECT_NE(report.find("\"result\": \"recovered\", \"verified\": true}"), std::string::npos) << report;
    EXPECT_NE(report.find("\"verified\": true, \"reason\""), std::string::npos) << report;
    EXPECT_NE(report.find("\"mismatched\": 0"), std::string::npos) << report;
}

} // namespace
