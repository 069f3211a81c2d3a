// A clip whose camera lost power while recording has ftyp and mdat but no
// moov. A healthy clip of the same camera on the card lends its moov: the
// clip comes back playable, as long as it was recorded, flagged repaired.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "CliTestSupport.h"
#include "support/IsoMediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;

int Count(const std::string& text, const std::regex& pattern) {
    return static_cast<int>(std::distance(std::sregex_iterator(text.begin(), text.end(), pattern), std::sregex_iterator()));
}

// What ffprobe reads of a file: its duration, its streams' types, and the
// video's presentation times (its first stream's), one a line.
struct Probe {
    std::optional<double> duration;
    std::string streams, pictureTimes;
};

Probe ProbeFile(const std::string& ffprobe, const fs::path& file) {
    const auto run = TestSupport::RunCommand({ffprobe, "-v", "error", "-show_entries",
                                              "format=duration:stream=codec_type:packet=stream_index,pts", "-of",
                                              "compact=nk=1", file.string()});
    Probe probe;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("format|", 0) == 0)
            probe.duration = std::strtod(line.c_str() + 7, nullptr);
        else if (line.rfind("stream|", 0) == 0)
            probe.streams += line.substr(7) + "\n";
        else if (line.rfind("packet|0|", 0) == 0)
            probe.pictureTimes += line.substr(9) + "\n";
    }
    if (run.exitCode != 0)
        probe.duration.reset();
    return probe;
}

// The decoded sound's digest as played (the encoder's priming left out by the edit list).
std::string SoundDigest(const std::string& ffmpeg, const fs::path& file) {
    return TestSupport::RunCommand({ffmpeg, "-v", "error", "-i", file.string(), "-map", "0:a", "-f", "md5", "-"}).output;
}

// How the mdat of the clip cut off declares its size.
enum class MdatSize { AsWritten, PastItsData };
// MP4 with AAC sound, QuickTime with PCM and B pictures.
enum class Sound { Aac, Pcm };

class IsoMediaRepair : public ::testing::TestWithParam<std::tuple<Sound, MdatSize>> {
protected:
    void SetUp() override {
        const auto ffmpeg = TestSupport::FindTool("ffmpeg");
        if (!TestSupport::HaveFatTools() || !ffmpeg || !TestSupport::FindTool("ffprobe"))
            GTEST_SKIP() << "mkfs.fat, mtools, ffmpeg and ffprobe are needed";
        if (TestSupport::RunCommand({*ffmpeg, "-hide_banner", "-encoders"}).output.find("libx264") == std::string::npos)
            GTEST_SKIP() << "the repair rebuilds H.264 clips; this ffmpeg has no libx264";
        // Seeds 1 and 13 give the same picture size: the same camera settings.
        const std::string brand = std::get<Sound>(GetParam()) == Sound::Aac ? "XAVC" : "qt  ";
        const auto video = std::get<Sound>(GetParam()) == Sound::Aac ? TestSupport::ClipVideo::H264
                                                                     : TestSupport::ClipVideo::H264Reordered;
        const auto healthy = TestSupport::FfmpegClip(dir.Path(), 1, brand, 60, video);
        const auto whole = TestSupport::FfmpegClip(dir.Path(), 13, brand, 110, video);
        ASSERT_TRUE(healthy && whole);
        this->healthy = *healthy;
        TestSupport::WriteFileBytes(dir / "whole.mp4", *whole);
        const size_t moov = TestSupport::TopLevelBox(*whole, "moov");
        ASSERT_NE(moov, std::string::npos);
        cut = whole->substr(0, moov);
        if (std::get<MdatSize>(GetParam()) == MdatSize::PastItsData) {
            // The size a camera would have written at the end, never updated.
            const size_t mdat = TestSupport::TopLevelBox(cut, "mdat");
            ASSERT_NE(mdat, std::string::npos);
            cut.replace(mdat, 4, "\x7F\xFF\xFF\xF0");
        }
        WriteCard();
    }

    void Mtool(const std::string& tool, std::vector<std::string> arguments) {
        std::vector<std::string> argv{"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", image.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto result = TestSupport::RunCommand(argv);
        ASSERT_EQ(result.exitCode, 0) << tool << ": " << result.output;
    }

    void WriteCard() {
        TestSupport::WriteFileBytes(image, "");
        fs::resize_file(image, 64u << 20);
        const auto made = TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        // The cut clip first: the card's free clusters follow it.
        for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"C0001.MP4", cut}, {"C0002.MP4", healthy}}) {
            TestSupport::WriteFileBytes(dir / name, bytes);
            Mtool("mcopy", {(dir / name).string(), "::" + name});
        }
        ASSERT_EQ(TestSupport::MkfsFat(image, {"-F", "32", "-s", "1"}).exitCode, 0); // a quick format
    }

    TestSupport::TempDir dir{"kalvory-iso-repair"};
    const fs::path image = dir / "card.img";
    std::string healthy, cut;
};

TEST_P(IsoMediaRepair, AClipWithoutItsMoovComesBackPlayableWithItsSoundAndFlagged) {
    const fs::path out = dir / "out";
    const Outcome recovered = RunKalvory({"recover", "--mode", "sector", image.string(), out.string()}, dir.Path());
    ASSERT_EQ(recovered.exitCode, 0) << recovered.err;
    int healthyCopies = 0;
    std::optional<fs::path> repaired;
    // The card's bytes, the mdat's size only set to where its data ends.
    const size_t mdat = TestSupport::TopLevelBox(cut, "mdat");
    const std::string data = cut.substr(mdat + 4);
    for (const auto& [path, bytes] : RecoveredFilesUnder(out)) {
        healthyCopies += bytes == healthy;
        if (bytes.size() > cut.size() && bytes.compare(0, mdat, cut, 0, mdat) == 0 &&
            bytes.compare(mdat + 4, data.size(), data) == 0 && TestSupport::TopLevelBox(bytes, "moov") == cut.size())
            repaired = out / path;
    }
    EXPECT_EQ(healthyCopies, 1) << "the healthy clip stays as it was";
    ASSERT_TRUE(repaired) << "no file holds the cut clip's bytes followed by a moov";
    const auto ffprobe = *TestSupport::FindTool("ffprobe");
    const Probe recorded = ProbeFile(ffprobe, dir / "whole.mp4"), back = ProbeFile(ffprobe, *repaired);
    ASSERT_TRUE(recorded.duration && back.duration) << "ffprobe cannot read " << repaired->string();
    EXPECT_NEAR(*back.duration, *recorded.duration, 1.0);
    EXPECT_GT(*back.duration, 0.5 * *recorded.duration);
    EXPECT_EQ(back.streams, "video\naudio\n");
    // The pictures shown in their order, at their times.
    ASSERT_FALSE(recorded.pictureTimes.empty());
    EXPECT_EQ(back.pictureTimes, recorded.pictureTimes);
    // Every sound frame as it was recorded and played from where it was: none split or joined, none lost.
    const auto ffmpeg = *TestSupport::FindTool("ffmpeg");
    const std::string sound = SoundDigest(ffmpeg, dir / "whole.mp4");
    ASSERT_EQ(sound.rfind("MD5=", 0), 0u) << sound;
    EXPECT_EQ(SoundDigest(ffmpeg, *repaired), sound);

    const std::string report = ReadText(out / "kalvory-report.json");
    EXPECT_EQ(Count(report, std::regex(R"("repaired": true)")), 1) << report;
    EXPECT_NE(report.find("\"repaired\": 1,"), std::string::npos) << "counted";
    const Outcome listed = RunKalvory({"list", "--mode", "sector", "--json", image.string()}, dir.Path());
    EXPECT_EQ(Count(listed.out, std::regex(R"("repaired": true)")), 1) << listed.out;
}

INSTANTIATE_TEST_SUITE_P(Clips, IsoMediaRepair,
                         ::testing::Combine(::testing::Values(Sound::Aac, Sound::Pcm),
                                            ::testing::Values(MdatSize::AsWritten, MdatSize::PastItsData)),
                         [](const auto& info) {
                             return std::string(std::get<Sound>(info.param) == Sound::Aac ? "Aac" : "Pcm") +
                                    (std::get<MdatSize>(info.param) == MdatSize::AsWritten ? "AsWritten" : "PastItsData");
                         });

} // namespace
