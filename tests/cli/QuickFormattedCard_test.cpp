// A camcorder card quick-formatted by its own file system's mkfs, recovered
// through the real binary: streams and Exif stills come back byte for byte
// under the camcorder's names, and nothing else is written. Before the
// format, the same card gives every file once.
#include <gtest/gtest.h>

#include <map>

#include "CliTestSupport.h"
#include "support/ExFatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace CliTest;
using TestSupport::FindTool;
using TestSupport::RunCommand;

enum class Volume { Fat32, ExFat };

struct CardFile {
    std::string path;      // on the card
    std::string bytes;
    std::string recovered; // where a recovery after the format puts it; empty: nowhere
};

// What the camcorder wrote, in the order it wrote it.
std::vector<CardFile> CamcorderFiles(const fs::path& scratch) {
    using TestSupport::ManagementFile;
    const auto first = TestSupport::FfmpegStream(scratch, 3);
    const auto second = TestSupport::FfmpegStream(scratch, 2);
    const auto still1 = TestSupport::ToolMadeJpeg(scratch, 1, true);
    const auto jfif = TestSupport::ToolMadeJpeg(scratch, 2, false);
    const auto still3 = TestSupport::ToolMadeJpeg(scratch, 3, true);
    if (!first || !second || !still1 || !jfif || !still3)
        return {};
    return {
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", ManagementFile("INDX", 12, 64, 200), ""},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", ManagementFile("MOBJ", 0, 40, 300), ""},
        {"PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", ManagementFile("HDMV", 28, 60, 900), ""},
        {"PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", ManagementFile("MPLS", 16, 80, 100), ""},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", *first, "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS"},
        {"PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", *second, "PRIVATE/AVCHD/BDMV/STREAM/00001.MTS"},
        {"DCIM/100CDPFP/IMGA0001.JPG", *still1, "DCIM/100CDPFP/IMGA0001.JPG"},
        {"DCIM/100CDPFP/IMGA0002.JPG", *jfif, ""},
        {"DCIM/100CDPFP/IMGA0003.JPG", *still3, "DCIM/100CDPFP/IMGA0002.JPG"},
        {"MISC/NOTES.TXT", std::string(3000, 'n'), ""},
    };
}

class QuickFormattedCard : public ::testing::TestWithParam<Volume> {
protected:
    void SetUp() override {
        files = CamcorderFiles(dir.Path());
        if (files.empty())
            GTEST_SKIP() << "ffmpeg, cjpeg and exiftool are needed";
        const bool fat = GetParam() == Volume::Fat32;
        if ((fat && !TestSupport::HaveFatTools()) || (!fat && !FindTool("mkfs.exfat")))
            GTEST_SKIP() << "the file system's mkfs is needed";
        fat ? WriteFat32() : WriteExFat();
    }

    void WriteFat32() {
        std::ofstream(image).close();
        fs::resize_file(image, 128 << 20);
        ASSERT_EQ(TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"}).exitCode, 0);
        const auto mtool = [&](std::vector<std::string> arguments) {
            arguments.insert(arguments.begin(), {"env", "MTOOLS_SKIP_CHECK=1"});
            arguments.insert(arguments.begin() + 3, {"-i", image.string()});
            const auto result = RunCommand(arguments);
            ASSERT_EQ(result.exitCode, 0) << arguments[2] << ": " << result.output;
        };
        for (const char* folder : {"PRIVATE", "PRIVATE/AVCHD", "PRIVATE/AVCHD/BDMV", "PRIVATE/AVCHD/BDMV/CLIPINF",
                                   "PRIVATE/AVCHD/BDMV/PLAYLIST", "PRIVATE/AVCHD/BDMV/STREAM", "DCIM",
                                   "DCIM/100CDPFP", "MISC"})
            mtool({"mmd", std::string("::") + folder});
        for (const CardFile& file : files) {
            const fs::path staged = dir / "staged";
            TestSupport::WriteFileBytes(staged, file.bytes);
            mtool({"mcopy", staged.string(), "::" + file.path});
        }
    }

    void WriteExFat() {
        TestSupport::ExFatImageBuilder card({.volumeBytes = 128 << 20});
        uint32_t next = 300; // past what mkfs.exfat writes at the start of the heap
        for (const CardFile& file : files) {
            TestSupport::ExFatEntryOptions contiguous{.noFatChain = true};
            for (size_t n = 0; n < (file.bytes.size() + card.ClusterSize() - 1) / card.ClusterSize(); ++n)
                contiguous.clusters.push_back(next++);
            card.AddFile(file.path, file.bytes, contiguous);
        }
        card.WriteTo(image);
    }

    void QuickFormat() {
        const auto formatted = GetParam() == Volume::Fat32 ? TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"})
                                                           : RunCommand({*FindTool("mkfs.exfat"), image.string()});
        ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
    }

    std::map<std::string, std::string> Recover(const std::string& folder) {
        const Outcome outcome = RunKalvory({"recover", image.string(), (dir / folder).string()}, dir.Path());
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        std::map<std::string, std::string> recovered;
        for (const auto& entry : fs::recursive_directory_iterator(dir / folder))
            if (entry.is_regular_file())
                recovered[fs::relative(entry.path(), dir / folder).generic_string()] = ReadText(entry.path());
        return recovered;
    }

    TestSupport::TempDir dir{"kalvory-format"};
    fs::path image = dir / "card.img";
    std::vector<CardFile> files;
};

TEST_P(QuickFormattedCard, BeforeTheFormatEveryFileComesBackOnce) {
    std::map<std::string, std::string> expected;
    for (const CardFile& file : files)
        expected[file.path] = file.bytes;
    EXPECT_EQ(Recover("before"), expected) << "the scan doubled or missed what the directories hold";
}

TEST_P(QuickFormattedCard, AfterTheFormatStreamsAndExifStillsComeBackUnderCamcorderNames) {
    QuickFormat();
    std::map<std::string, std::string> expected;
    for (const CardFile& file : files)
        if (!file.recovered.empty())
            expected[file.recovered] = file.bytes;
    EXPECT_EQ(Recover("after"), expected);
}

INSTANTIATE_TEST_SUITE_P(Cards, QuickFormattedCard, ::testing::Values(Volume::Fat32, Volume::ExFat),
                         [](const auto& info) { return info.param == Volume::Fat32 ? "Fat32" : "ExFat"; });

} // namespace
