#pragma once
// The sound of a clip whose moov is lost: the bytes between its video
// samples in the mdat are the sound track's chunks. Read as the template's
// sound track codes them (PCM frames of a fixed size, or AAC frames found in
// each chunk), they get sample tables of their own.
#include <cstdint>
#include <optional>
#include <vector>

#include "AAA_Stream.h"
#include "ISOBMFF_AacFrames.h"
#include "ISOBMFF_BoxSpans.h"
#include "ISOBMFF_SampleTables.h"

namespace Kalvory {

enum class AudioCoding { Pcm, Aac };

// What a healthy clip's sound track gives a repair.
struct AudioTemplate {
    uint16_t track = 0; // index of its trak among the moov's traks
    AudioCoding coding = AudioCoding::Pcm;
    uint32_t bytesPerFrame = 0; // Pcm
    uint32_t sampleSize = 0;    // Pcm: the template's stsz sample size, kept
    TrackCoding pcm;            // Pcm with 16 bits: for the test that it sounds like sound
    AacLayout aac;
    AacFrameSizes aacSizes;
    uint32_t delta = 0; // media time of a sample
    uint32_t mediaScale = 0;
};

// The sound track's template when the moov holds it beside the video track
// and nothing else: only then are the bytes between video samples its chunks.
std::optional<AudioTemplate> AudioTemplateOf(Span moov, const MovieTables& tables, uint16_t videoTrack);

struct AudioChunk {
    uint64_t offset = 0; // as the bytes it was read from
    uint32_t bytes = 0;
    uint32_t samples = 0;
    std::vector<uint32_t> sizes; // Aac: each frame's; Pcm: none, all alike
};

struct Gap {
    uint64_t offset;
    uint64_t size;
};

// The chunks the gaps between video samples hold, in order; none when one of
// them is no chunk of the template's coding. The last gap may be cut off.
std::optional<std::vector<AudioChunk>> FindAudioChunks(AAA::Stream& stream, const AudioTemplate& audio,
                                                       const std::vector<Gap>& gaps);

// The media duration of the chunks' samples.
uint64_t AudioDuration(const AudioTemplate& audio, const std::vector<AudioChunk>& chunks);

// The sample tables after stsd: stts, stsc, stsz and the chunk offsets.
void WriteAudioTables(BoxWriter& w, const AudioTemplate& audio, const std::vector<AudioChunk>& chunks);

} // namespace Kalvory
