#pragma once
// A movie box for a clip whose own was never written: a healthy clip's moov
// from the same camera, its video track's sample tables replaced by the
// samples found in the clip's mdat, its sound track's by the chunks found
// between them; other tracks are left out.
#include <cstdint>
#include <optional>
#include <vector>

#include "ISOBMFF_AccessUnits.h"
#include "ISOBMFF_AudioRebuild.h"
#include "ISOBMFF_PictureOrder.h"

namespace Kalvory {

struct RebuiltSample {
    uint64_t offset; // in the file
    uint32_t size;
    bool sync;
    uint32_t composition = 0; // its ctts offset: how much later it is shown than decoded
};

// What a healthy clip's moov gives a repair: its H.264 video track, and its
// sound track when the bytes between video samples can only be that.
struct VideoTemplate {
    std::vector<uint8_t> moov;
    uint16_t track = 0;          // index of its trak among the moov's traks
    uint32_t nalLengthBytes = 4;
    uint32_t largestSample = 0;  // of its video track
    uint32_t ppsId = 0;          // of the picture parameter set in its avcC
    std::optional<AvcSequence> sequence; // of its first sequence parameter set
    bool reordered = false;      // shown in another order than decoded: its samples have a ctts
    uint8_t sliceKinds = 0;      // SliceKind bits of its slices as read; 0: not read
    uint32_t pictureScale = 0, pictureDelta = 0; // the video's timescale, and the time of a picture in it
    std::optional<AudioTemplate> audio;
};

// The template the moov offers; none when it has no H.264 video track.
std::optional<VideoTemplate> VideoTemplateOf(std::vector<uint8_t> moov);

// The template's moov with the video track's tables listing `samples` (one
// chunk each) at the template's frame rate, shown in their order of display, the sound track's the `audio`
// chunks (file offsets) when there are any, and the durations to match.
std::optional<std::vector<uint8_t>> RebuildMoov(const VideoTemplate& from, const std::vector<RebuiltSample>& samples,
                                                const std::vector<AudioChunk>& audio = {});

} // namespace Kalvory
