#pragma once
// Media a camcorder card holds, made for tests: transport-stream packets and
// AVCHD management files built byte by byte, and streams and pictures made by
// real tools (ffmpeg, cjpeg, exiftool) when those are installed.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace TestSupport {

void PutBe32(std::string& bytes, size_t at, uint32_t value);

// `count` 192-byte source packets: a PAT first, then video packets, their
// arrival times `step` ticks apart from `firstAts`; the payload is `fill`.
std::string SourcePackets(size_t count, uint32_t firstAts = 1000, uint32_t step = 2256, uint8_t fill = 0x5A);

// Exactly `length` bytes (at least 64) of an Exif JPEG whose marker walk
// ends at its length: seeded entropy-coded data with a restart marker every
// 4 KiB, so pictures of different seeds differ throughout.
std::string ExifJpeg(size_t length, uint32_t seed);
// Exactly `length` bytes of source packets, their arrival times apart per
// seed (two seeds make two recordings) and their payload seeded.
std::string StreamBytes(size_t length, uint32_t seed);
// Bytes shaped as a file of that name is checked: ExifJpeg for ".JPG",
// StreamBytes for ".MTS", other names seeded bytes of no format.
std::string MediaShaped(const std::string& name, size_t length, uint32_t seed);

// A big-endian management file: `signature` at 0, header words 8..63 zero but
// the offset of the last section at `offsetWord` (none when 0), and a last
// section of `sectionBytes` after its length word.
std::string ManagementFile(const std::string& signature, size_t offsetWord, uint32_t lastSection,
                           uint32_t sectionBytes);

// An ffmpeg transport stream in 192-byte packets of about `seconds`, its
// first packet relabelled as a PAT (ffmpeg starts with its service table).
// Its length stays a whole number of 6,144-byte aligned units, as a
// camcorder's. Nullopt without ffmpeg.
std::optional<std::string> FfmpegStream(const std::filesystem::path& scratch, double seconds);

// A picture made by cjpeg with restart markers; `exif`: then given an Exif
// segment with a thumbnail by exiftool (JFIF segment removed). Nullopt without
// ffmpeg, cjpeg or exiftool.
std::optional<std::string> ToolMadeJpeg(const std::filesystem::path& scratch, int seed, bool exif);

} // namespace TestSupport
