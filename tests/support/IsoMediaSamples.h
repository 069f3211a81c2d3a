#pragma once
// ISO media clips for tests, made by ffmpeg (moov after mdat, as cameras
// write them): a few frames of a test pattern with a tone, H.264 when libx264
// is there, MPEG-4 part 2 otherwise.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace TestSupport {

// H.264 with B pictures is shown in another order than stored (a ctts).
enum class ClipVideo { H264, H264Reordered, Hevc };

// A clip of `frames` frames with major brand `brand` ("XAVC", "mp41"; "qt  "
// makes a .mov with PCM sound); `seed` changes its pattern and tone. HEVC when asked and
// libx265 is there. Nullopt without ffmpeg.
std::optional<std::string> FfmpegClip(const std::filesystem::path& scratch, int seed, const std::string& brand,
                                      int frames = 50, ClipVideo video = ClipVideo::H264);

// A JFIF picture of `size` ("160x120") by ffmpeg, as cameras write beside
// their clips. Nullopt without ffmpeg.
std::optional<std::string> FfmpegPicture(const std::filesystem::path& scratch, const std::string& size);

// The offset of the first top-level box of `type` in `clip`; npos when none.
size_t TopLevelBox(const std::string& clip, const std::string& type);

} // namespace TestSupport
