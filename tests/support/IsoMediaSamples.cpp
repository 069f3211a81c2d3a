#include "IsoMediaSamples.h"

#include <cstdint>
#include <unistd.h>

#include "MtoolsHelpers.h"
#include "TempDir.h"

namespace TestSupport {
namespace {

uint32_t Be32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
    return value;
}

bool HasEncoder(const std::string& ffmpeg, const std::string& name) {
    static const std::string encoders = RunCommand({ffmpeg, "-hide_banner", "-encoders"}).output;
    return encoders.find(" " + name + " ") != std::string::npos;
}

} // namespace

std::optional<std::string> FfmpegClip(const std::filesystem::path& scratch, int seed, const std::string& brand,
                                      int frames, ClipVideo video) {
    const auto ffmpeg = FindTool("ffmpeg");
    if (!ffmpeg)
        return std::nullopt;
    const bool quickTime = brand == "qt  ";
    const auto out = scratch / ("clip" + std::to_string(seed) + "-" + std::to_string(::getpid()) +
                                (quickTime ? ".mov" : ".mp4"));
    const std::string size = std::to_string(96 + 16 * (seed % 4)) + "x" + std::to_string(64 + 16 * (seed % 3));
    std::vector<std::string> argv{*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i",
                                  "testsrc=size=" + size + ":rate=25:decimals=" + std::to_string(seed % 3), "-f",
                                  "lavfi", "-i", "sine=frequency=" + std::to_string(300 + 40 * seed) + ":sample_rate=48000",
                                  "-frames:v", std::to_string(frames), "-shortest", "-g", "12"};
    if (video == ClipVideo::Hevc && HasEncoder(*ffmpeg, "libx265"))
        argv.insert(argv.end(), {"-c:v", "libx265", "-preset", "ultrafast", "-tag:v", "hvc1", "-x265-params", "log-level=none"});
    else if (HasEncoder(*ffmpeg, "libx264"))
        argv.insert(argv.end(), {"-c:v", "libx264", "-preset", video == ClipVideo::H264Reordered ? "veryfast" : "ultrafast"});
    else
        argv.insert(argv.end(), {"-c:v", "mpeg4"});
    // QuickTime clips carry PCM, as the cameras that write them do.
    if (quickTime)
        argv.insert(argv.end(), {"-c:a", "pcm_s16le"});
    else
        argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "48k"});
    if (!quickTime)
        argv.insert(argv.end(), {"-brand", brand});
    argv.push_back(out.string());
    if (RunCommand(argv).exitCode != 0)
        return std::nullopt;
    std::string bytes = ReadFileBytes(out);
    std::filesystem::remove(out);
    return bytes;
}

std::optional<std::string> FfmpegPicture(const std::filesystem::path& scratch, const std::string& size) {
    const auto ffmpeg = FindTool("ffmpeg");
    const auto out = scratch / ("picture" + size + "-" + std::to_string(::getpid()) + ".jpg");
    if (!ffmpeg || RunCommand({*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=" + size, "-frames:v",
                               "1", out.string()})
                           .exitCode != 0)
        return std::nullopt;
    std::string bytes = ReadFileBytes(out);
    std::filesystem::remove(out);
    return bytes;
}

size_t TopLevelBox(const std::string& clip, const std::string& type) {
    for (size_t at = 0; at + 8 <= clip.size();) {
        if (clip.compare(at + 4, 4, type) == 0)
            return at;
        const uint32_t size = Be32(clip, at);
        if (size < 8)
            return std::string::npos;
        at += size;
    }
    return std::string::npos;
}

} // namespace TestSupport
