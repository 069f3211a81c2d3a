#pragma once
// A movie box for a clip whose own was never written: a healthy clip's moov
// from the same camera, its video track's sample tables replaced by the
// samples found in the clip's mdat, the other tracks left out.
#include <cstdint>
#include <optional>
#include <vector>

namespace Kalvory {

struct RebuiltSample {
    uint64_t offset; // in the file
    uint32_t size;
    bool sync;
};

// What a healthy clip's moov gives a repair: its H.264 video track.
struct VideoTemplate {
    std::vector<uint8_t> moov;
    uint16_t track = 0;          // index of its trak among the moov's traks
    uint32_t nalLengthBytes = 4;
    uint32_t largestSample = 0;  // of its video track
    uint32_t ppsId = 0;          // of the picture parameter set in its avcC
};

// The template the moov offers; none when it has no H.264 video track.
std::optional<VideoTemplate> VideoTemplateOf(std::vector<uint8_t> moov);

// The template's moov with the video track's tables listing `samples` (one
// chunk each) at the template's frame rate, and the durations to match.
std::optional<std::vector<uint8_t>> RebuildMoov(const VideoTemplate& from, const std::vector<RebuiltSample>& samples);

} // namespace Kalvory
