#include "support/MediaSamples.h"

#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

#include <functional>
#include <unistd.h>

namespace TestSupport {
namespace {
std::optional<std::string> MakeFfmpegStream(const std::string& ffmpeg, const std::filesystem::path& scratch,
                                            double seconds);
std::optional<std::string> MakeToolJpeg(const std::filesystem::path& scratch, int seed, bool exif);
} // namespace

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

namespace {

// Bytes of a seeded sequence, never 0xFF (entropy-coded data stuffs those).
class SeededBytes {
public:
    explicit SeededBytes(uint32_t seed) : state_(seed * 2654435761u + 12345) {}
    uint8_t Next() {
        state_ = state_ * 1664525u + 1013904223u;
        const auto byte = static_cast<uint8_t>(state_ >> 24);
        return byte == 0xFF ? 0xFE : byte;
    }

private:
    uint32_t state_;
};

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

std::string ExifJpeg(size_t length, uint32_t seed) {
    static const std::string kHead("\xFF\xD8\xFF\xE1\x00\x10" "Exif\0\0" "II*\0\x08\0\0\0" // SOI, APP1
                                   "\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00",            // SOS
                                   30);
    if (length < 64)
        length = 64;
    std::string bytes = kHead;
    SeededBytes data(seed);
    const size_t entropyEnd = length - 2;
    for (size_t i = 0, restart = 0; bytes.size() < entropyEnd; ++i) {
        if (i > 0 && i % 4096 == 0 && bytes.size() + 2 <= entropyEnd) {
            bytes += '\xFF';
            bytes += static_cast<char>(0xD0 + restart++ % 8);
        } else {
            bytes += static_cast<char>(data.Next());
        }
    }
    return bytes + "\xFF\xD9";
}

std::string StreamBytes(size_t length, uint32_t seed) {
    std::string bytes = SourcePackets((length + 191) / 192, (1000 + seed * 150000000u) & 0x3FFFFFFF);
    SeededBytes payload(seed);
    for (size_t at = 0; at < bytes.size(); at += 192)
        for (size_t k = 7; k < 192; ++k)
            bytes[at + k] = static_cast<char>(payload.Next());
    bytes.resize(length);
    return bytes;
}

std::string MediaShaped(const std::string& name, size_t length, uint32_t seed) {
    if (EndsWith(name, ".JPG"))
        return ExifJpeg(length, seed);
    if (EndsWith(name, ".MTS"))
        return StreamBytes(length, seed);
    std::string bytes(length, '\0');
    SeededBytes data(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(data.Next());
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

// Made once per machine: every test runs in a process of its own, and the
// tools take most of a test's time. A sample appears whole or not at all.
std::optional<std::string> Cached(const std::string& key, const std::function<std::optional<std::string>()>& make) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "kalvory-media-samples";
    const std::filesystem::path file = folder / key;
    std::error_code error;
    if (std::filesystem::exists(file, error))
        return ReadFileBytes(file);
    const std::optional<std::string> made = make();
    if (made) {
        std::filesystem::create_directories(folder, error);
        const std::filesystem::path partial = folder / (key + "." + std::to_string(::getpid()));
        WriteFileBytes(partial, *made);
        std::filesystem::rename(partial, file, error);
    }
    return made;
}

} // namespace

std::optional<std::string> FfmpegStream(const std::filesystem::path& scratch, double seconds) {
    const auto ffmpeg = FindTool("ffmpeg");
    if (!ffmpeg)
        return std::nullopt;
    return Cached("stream-" + std::to_string(seconds) + ".m2ts",
                  [&]() { return MakeFfmpegStream(*ffmpeg, scratch, seconds); });
}

namespace {

std::optional<std::string> MakeFfmpegStream(const std::string& ffmpeg, const std::filesystem::path& scratch,
                                            double seconds) {
    const auto out = scratch / ("clip" + std::to_string(seconds) + ".m2ts");
    if (!Run({ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=30000/1001", "-f",
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

} // namespace

std::optional<std::string> ToolMadeJpeg(const std::filesystem::path& scratch, int seed, bool exif) {
    if (!FindTool("ffmpeg") || !FindTool("cjpeg") || (exif && !FindTool("exiftool")))
        return std::nullopt;
    return Cached("picture-" + std::to_string(seed) + (exif ? "-exif" : "-jfif") + ".jpg",
                  [&]() { return MakeToolJpeg(scratch, seed, exif); });
}

namespace {

std::optional<std::string> MakeToolJpeg(const std::filesystem::path& scratch, int seed, bool exif) {
    const auto ffmpeg = FindTool("ffmpeg");
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

} // namespace

} // namespace TestSupport
