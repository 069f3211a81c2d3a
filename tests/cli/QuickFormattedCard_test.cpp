// A camcorder card quick-formatted by its own file system's mkfs, recovered
// through the real binary. Before the format every file comes back once.
// After it, the sector scan alone gives streams and Exif stills back under
// camcorder names; with the folders it finds, the whole DCIM and PRIVATE
// trees come back at their paths, a fragmented stream whole.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "CliTestSupport.h"
#include "support/DvClipWriter.h"
#include "support/ExFatImageBuilder.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace CliTest;
using TestSupport::FindTool;
using TestSupport::RunCommand;

enum class Volume { Fat16, Fat32, ExFat };

struct CardFile {
    std::string path;   // on the card
    std::string bytes;
    std::string carved; // where the sector scan alone puts it; empty: nowhere
};

const char* const kFolders[] = {"DCIM", "DCIM/100CDPFP", "PRIVATE", "PRIVATE/AVCHD", "PRIVATE/AVCHD/BDMV",
                                "PRIVATE/AVCHD/BDMV/CLIPINF", "PRIVATE/AVCHD/BDMV/PLAYLIST",
                                "PRIVATE/AVCHD/BDMV/STREAM", "MISC"};
const std::string kGap = "MISC/GAP.BIN";      // deleted before the fragmented stream is written
const std::string kFragmented = "PRIVATE/AVCHD/BDMV/STREAM/00002.MTS";

// What the camcorder wrote, in the order it wrote it.
std::vector<CardFile> CamcorderFiles(const fs::path& scratch) {
    using TestSupport::ManagementFile;
    const auto first = TestSupport::FfmpegStream(scratch, 3);
    const auto second = TestSupport::FfmpegStream(scratch, 2);
    const auto third = TestSupport::FfmpegStream(scratch, 2.5);
    const auto still1 = TestSupport::ToolMadeJpeg(scratch, 1, true);
    const auto jfif = TestSupport::ToolMadeJpeg(scratch, 2, false);
    const auto still3 = TestSupport::ToolMadeJpeg(scratch, 3, true);
    if (!first || !second || !third || !still1 || !jfif || !still3)
        return {};
    return {
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", ManagementFile("INDX", 12, 64, 200), ""},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", ManagementFile("MOBJ", 0, 40, 300), ""},
        {"PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", ManagementFile("HDMV", 28, 60, 900), ""},
        {"PRIVATE/AVCHD/BDMV/PLAYLIST/00000.MPL", ManagementFile("MPLS", 16, 80, 100), ""},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", *first, "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS"},
        {"PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", *second, "PRIVATE/AVCHD/BDMV/STREAM/00001.MTS"},
        {"DCIM/100CDPFP/IMGA0001.JPG", *still1, "DCIM/100CDPFP/IMGA0001.JPG"},
        {kGap, std::string(700000, '\0'), ""},
        {"DCIM/100CDPFP/IMGA0002.JPG", *jfif, ""},
        {"DCIM/100CDPFP/IMGA0003.JPG", *still3, "DCIM/100CDPFP/IMGA0002.JPG"},
        {"MISC/NOTES.TXT", std::string(3000, 'n'), ""},
        {"ROOT.TXT", std::string(2000, 'r'), ""},
        {kFragmented, *third, ""}, // in two fragments: the scan alone stops at the first
    };
}

// Names only in the messages: the files are megabytes of binary.
void ExpectSameFiles(const std::map<std::string, std::string>& recovered,
                     const std::map<std::string, std::string>& expected) {
    std::vector<std::string> got, want;
    for (const auto& [path, bytes] : recovered)
        got.push_back(path);
    for (const auto& [path, bytes] : expected)
        want.push_back(path);
    ASSERT_EQ(got, want);
    for (const auto& [path, bytes] : expected)
        EXPECT_TRUE(recovered.at(path) == bytes) << path << " differs";
}

class QuickFormattedCard : public ::testing::TestWithParam<Volume> {
protected:
    void SetUp() override {
        files = CamcorderFiles(dir.Path());
        if (files.empty())
            GTEST_SKIP() << "ffmpeg, cjpeg and exiftool are needed";
        const bool fat = GetParam() != Volume::ExFat;
        if ((fat && !TestSupport::HaveFatTools()) || (!fat && !FindTool("mkfs.exfat")))
            GTEST_SKIP() << "the file system's mkfs is needed";
        fat ? WriteFat() : WriteExFat();
    }

    std::vector<std::string> FormatArguments() const {
        return GetParam() == Volume::Fat16 ? std::vector<std::string>{"-F", "16"}
                                           : std::vector<std::string>{"-F", "32", "-s", "1"};
    }

    void WriteFat() {
        std::ofstream(image).close();
        fs::resize_file(image, GetParam() == Volume::Fat16 ? 64 << 20 : 40 << 20); // FAT32: over 65,525 clusters
        ASSERT_EQ(TestSupport::MkfsFat(image, FormatArguments()).exitCode, 0);
        const auto mtool = [&](std::vector<std::string> arguments) {
            arguments.insert(arguments.begin(), {"env", "MTOOLS_SKIP_CHECK=1"});
            arguments.insert(arguments.begin() + 3, {"-i", image.string()});
            const auto result = RunCommand(arguments);
            ASSERT_EQ(result.exitCode, 0) << arguments[2] << ": " << result.output;
        };
        for (const char* folder : kFolders)
            mtool({"mmd", std::string("::") + folder});
        for (const CardFile& file : files) {
            if (file.path == kFragmented) { // fills the gap, then goes on after the files
                mtool({"mdel", "::" + kGap});
                std::string bytes = TestSupport::ReadFileBytes(image);
                if (bytes.substr(512, 4) == "RRaA") // no next-free hint: the gap is filled first
                    bytes.replace(512 + 492, 4, std::string(4, '\xFF'));
                TestSupport::WriteFileBytes(image, bytes);
            }
            const fs::path staged = dir / "staged";
            TestSupport::WriteFileBytes(staged, file.bytes);
            mtool({"mcopy", staged.string(), "::" + file.path});
        }
    }

    void WriteExFat() {
        TestSupport::ExFatImageBuilder card({.volumeBytes = 64 << 20});
        uint32_t next = 300; // past what mkfs.exfat writes at the start of the heap
        for (const char* folder : kFolders)
            card.AddFolder(folder, {.clusters = {next++}});
        std::vector<uint32_t> gap;
        for (const CardFile& file : files) {
            TestSupport::ExFatEntryOptions options;
            const size_t clusters = (file.bytes.size() + card.ClusterSize() - 1) / card.ClusterSize();
            if (file.path == kFragmented) {
                options.clusters = gap; // fills the gap, then goes on after the files
                while (options.clusters.size() < clusters)
                    options.clusters.push_back(next++);
            } else {
                options.noFatChain = true;
                for (size_t n = 0; n < clusters; ++n)
                    options.clusters.push_back(next++);
                if (file.path == kGap)
                    gap = options.clusters;
            }
            if (file.path != kGap)
                card.AddFile(file.path, file.bytes, options);
        }
        card.WriteTo(image);
    }

    // Formats the card again, and leaves a DV clip in its free space as a
    // camcorder recording before the card's last use would have.
    void QuickFormat() {
        const auto formatted = GetParam() == Volume::ExFat ? RunCommand({*FindTool("mkfs.exfat"), image.string()})
                                                           : TestSupport::MkfsFat(image, FormatArguments());
        ASSERT_EQ(formatted.exitCode, 0) << formatted.output;
        using TestSupport::DvGapPlace;
        const TestSupport::DvClipLayout clip =
            TestSupport::WriteDvClip({.frames = 40, .gaps = {{DvGapPlace::Audio, 3}, {DvGapPlace::FrameStart, 2}}});
        TestSupport::PutDvClip(image, fs::file_size(image) - (clip.span + (1 << 20)) / (1 << 20) * (1 << 20) - (1 << 20), clip);
        dvFiles = TestSupport::DvClipSavedFiles(clip, "001XX00");
    }

    std::map<std::string, std::string> Recover(const std::string& folder, const std::string& mode) {
        const Outcome outcome =
            RunKalvory({"recover", "--mode", mode, image.string(), (dir / folder).string()}, dir.Path());
        EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
        summary = outcome.out;
        return RecoveredFilesUnder(dir / folder);
    }

    // The card's files but the gap, which was deleted.
    std::map<std::string, std::string> Written() const {
        std::map<std::string, std::string> written;
        for (const CardFile& file : files)
            if (file.path != kGap)
                written[file.path] = file.bytes;
        return written;
    }

    TestSupport::TempDir dir{"kalvory-format"};
    fs::path image = dir / "card.img";
    std::vector<CardFile> files;
    std::string summary;
    std::map<std::string, std::string> dvFiles; // the clip left before the format
};

TEST_P(QuickFormattedCard, BeforeTheFormatEveryFileComesBackOnce) {
    std::map<std::string, std::string> recovered = Recover("before", "dir-and-sector");
    recovered.erase("MISC/0AP.BIN"); // deleted (FAT): its bytes are the stream's now
    ExpectSameFiles(recovered, Written());
}

TEST_P(QuickFormattedCard, AfterTheFormatTheScanAloneGivesStreamsAndExifStillsCamcorderNames) {
    QuickFormat();
    std::map<std::string, std::string> expected;
    for (const CardFile& file : files)
        if (!file.carved.empty())
            expected[file.carved] = file.bytes;
    expected.insert(dvFiles.begin(), dvFiles.end());
    std::map<std::string, std::string> recovered = Recover("sector", "sector");
    recovered.erase("PRIVATE/AVCHD/BDMV/STREAM/00002.MTS"); // the fragmented stream's first fragment
    ExpectSameFiles(recovered, expected);
}

TEST_P(QuickFormattedCard, AfterTheFormatFoundFoldersGiveTheTreesBackAtTheirPaths) {
    QuickFormat();
    std::map<std::string, std::string> expected = Written();
    const std::string notes = expected.at("MISC/NOTES.TXT");
    expected.erase("MISC/NOTES.TXT");
    expected.erase("ROOT.TXT"); // its slot was in the wiped root: nothing names it
    expected.insert(dvFiles.begin(), dvFiles.end());
    std::map<std::string, std::string> recovered = Recover("found", "dir-and-sector");
    std::string misc;
    for (const auto& [path, bytes] : recovered)
        if (std::regex_match(path, std::regex("[0-9]+\\.dir/NOTES\\.TXT")))
            misc = path;
    ASSERT_FALSE(misc.empty()) << "MISC keeps its found-folder name";
    EXPECT_TRUE(recovered[misc] == notes);
    recovered.erase(misc);
    recovered.erase(misc.substr(0, misc.find('/')) + "/0AP.BIN"); // the deleted gap, as above
    ExpectSameFiles(recovered, expected);
    EXPECT_NE(summary.find("from folders found"), std::string::npos) << summary;
}

INSTANTIATE_TEST_SUITE_P(Cards, QuickFormattedCard, ::testing::Values(Volume::Fat16, Volume::Fat32, Volume::ExFat),
                         [](const auto& info) {
                             return info.param == Volume::Fat16 ? "Fat16" : info.param == Volume::Fat32 ? "Fat32" : "ExFat";
                         });

} // namespace
