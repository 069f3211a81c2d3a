#include "support/MediaSamples.h"

#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace TestSupport {

void PutBe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

std::string SourcePackets(size_t count, uint32_t firstAts, uint32_t step, uint8_t fill) {
    std::string bytes(count * 192, static_cast<char>(fill));
    for (size_t i = 0; i < count; ++i) {
        const size_t at = i * 192;
        PutBe32(bytes, at, (firstAts + static_cast<uint32_t>(i) * step) & 0x3FFFFFFF);
        bytes[at + 4] = 0x47;
        const uint16_t pid = i == 0 ? 0x0000 : 0x1011;
        bytes[at + 5] = static_cast<char>(0x40 | pid >> 8);
        bytes[at + 6] = static_cast<char>(pid & 0xFF);
    }
    return bytes;
}

std::string ManagementFile(const std::string& signature, size_t offsetWord, uint32_t lastSection,
                           uint32_t sectionBytes) {
    std::string file(lastSection + 4 + sectionBytes, '\x11');
    file.replace(0, 4, signature);
    file.replace(4, 4, "0200");
    for (size_t at = 8; at < 64 && at + 4 <= lastSection; at += 4)
        PutBe32(file, at, 0);
    if (offsetWord != 0)
        PutBe32(file, offsetWord, lastSection);
    PutBe32(file, lastSection, sectionBytes);
    return file;
}

namespace {

bool Run(const std::vector<std::string>& argv) { return RunCommand(argv).exitCode == 0; }

} // namespace

std::optional<std::string> FfmpegStream(const std::filesystem::path& scratch, double seconds) {
    const auto ffmpeg = FindTool("ffmpeg");
    if (!ffmpeg)
        return std::nullopt;
    const auto out = scratch / ("clip" + std::to_string(seconds) + ".m2ts");
    if (!Run({*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30000/1001", "-f",
              "lavfi", "-i", "sine", "-t", std::to_string(seconds), "-c:v", "libx264", "-preset", "ultrafast",
              "-b:v", "6M", "-minrate", "6M", "-maxrate", "6M", "-bufsize", "1M", "-c:a", "ac3", "-f", "mpegts",
              "-mpegts_m2ts_mode", "1", "-muxrate", "8M", out.string()}))
        return std::nullopt;
    std::string bytes = ReadFileBytes(out);
    if (bytes.size() >= 192) {
        bytes[5] = static_cast<char>(bytes[5] & 0xE0);
        bytes[6] = 0;
    }
    return bytes;
}

std::optional<std::string> ToolMadeJpeg(const std::filesystem::path& scratch, int seed, bool exif) {
    const auto ffmpeg = FindTool("ffmpeg");
    if (!ffmpeg || !FindTool("cjpeg") || (exif && !FindTool("exiftool")))
        return std::nullopt;
    const std::string stem = (scratch / ("picture" + std::to_string(seed))).string();
    const std::string size = std::to_string(160 + 16 * seed) + "x120";
    if (!Run({*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=" + size, "-frames:v", "1",
              stem + ".ppm"}) ||
        !Run({"cjpeg", "-restart", "2", "-outfile", stem + ".jpg", stem + ".ppm"}))
        return std::nullopt;
    if (exif) {
        if (!Run({*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=80x60", "-frames:v", "1",
                  stem + "t.ppm"}) ||
            !Run({"cjpeg", "-outfile", stem + "t.jpg", stem + "t.ppm"}) ||
            !Run({"exiftool", "-q", "-overwrite_original", "-JFIF:all=", "-ThumbnailImage<=" + stem + "t.jpg",
                  "-Make=Kalvory", stem + ".jpg"}))
            return std::nullopt;
    }
    return ReadFileBytes(stem + ".jpg");
}

} // namespace TestSupport
