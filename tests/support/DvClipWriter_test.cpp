// The clip writer's AVI is a DV AVI to a real demuxer: ffprobe finds DV
// video and PCM audio, and the audio it decodes is the two channel files
// interleaved.
#include "support/DvClipWriter.h"

#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace TestSupport {
namespace {

TEST(DvClipWriter, FfmpegReadsTheAviAsDvVideoWithPcmAudio) {
    const auto ffprobe = FindTool("ffprobe");
    const auto ffmpeg = FindTool("ffmpeg");
    if (!ffprobe || !ffmpeg)
        GTEST_SKIP() << "ffprobe and ffmpeg are needed";
    TempDir dir("kalvory-dvwriter");
    struct System {
        DvVideoSystem system;
        const char* streams;
    };
    for (const System& each : {System{DvVideoSystem::Ntsc, "dvvideo,720,480\npcm_s16le,48000,2\n"},
                               System{DvVideoSystem::Pal, "dvvideo,720,576\npcm_s16le,48000,2\n"}}) {
        const DvClipLayout clip = WriteDvClip({.system = each.system, .frames = 50, .gaps = {{DvGapPlace::Audio, 2}}});
        const auto avi = dir / "clip.avi";
        WriteFileBytes(avi, clip.aviFile);
        const CommandResult probe = RunCommand({*ffprobe, "-v", "error", "-show_entries",
                                                "stream=codec_name,width,height,sample_rate,channels", "-of",
                                                "csv=p=0", avi.string()});
        EXPECT_EQ(probe.output, each.streams);
        const auto audio = dir / "audio.raw";
        const CommandResult decoded =
            RunCommand({*ffmpeg, "-v", "error", "-y", "-i", avi.string(), "-map", "0:a", "-f", "s16le", audio.string()});
        EXPECT_EQ(decoded.exitCode, 0) << decoded.output;
        std::string interleaved;
        for (size_t at = 0; at < clip.pcm0File.size(); at += 2)
            interleaved += clip.pcm0File.substr(at, 2) + clip.pcm1File.substr(at, 2);
        EXPECT_TRUE(ReadFileBytes(audio) == interleaved);
    }
}

} // namespace
} // namespace TestSupport
