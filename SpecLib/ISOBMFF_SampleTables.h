#pragma once
// The sample tables of a movie box: where each track's samples lie in the
// file (chunk offsets stco/co64, samples per chunk stsc, sizes stsz) and how
// a sample of the track begins, so that a cluster of the card can be told to
// hold the start of the sample the file expects there.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ISOBMFF_AacFrames.h"

namespace Kalvory {

enum class SampleCoding {
    Unchecked, // timed metadata, anything without a test of its first bytes
    Aac,       // raw AAC LC frames
    Avc,       // length-prefixed H.264 NAL units
    Hevc,      // length-prefixed H.265 NAL units
    Mpeg4Part2, // start codes
    Pcm16,      // 16-bit PCM: consecutive frames close to each other, as sound is
};

// A video sample, or a chunk of another track's samples.
struct MediaSample {
    uint64_t offset; // in the file
    uint32_t size;
    uint16_t track;  // index into MovieTables::tracks
};

struct TrackCoding {
    SampleCoding coding = SampleCoding::Unchecked;
    uint32_t nalLengthBytes = 4;
    uint32_t channels = 0;     // Pcm16
    bool bigEndian = false;    // Pcm16: twos, not sowt
    AacLayout aac;             // Aac
};

struct MovieTables {
    std::vector<TrackCoding> tracks;
    std::vector<MediaSample> samples; // every track's, by file offset
};

// The tables of the moov box in `moov` (its header included); false when the
// box is damaged: tables that disagree, or more samples than a clip holds.
bool ParseMovieTables(const uint8_t* moov, size_t size, MovieTables& tables);

// Whether `bytes` (the first `available` bytes of a sample of `size` bytes,
// which may be fewer than the sample) begin a sample of that coding: each NAL
// unit's length prefix stays inside the sample and its header is one the
// coding uses. Unchecked codings pass.
bool BeginsSample(const TrackCoding& track, const uint8_t* bytes, size_t available, uint32_t size);

// Whether `bytes` (whole frames of a 16-bit PCM track) sound like sound:
// neighbouring values of each channel differ far less than random data's do.
bool PlausiblePcm(const TrackCoding& track, const uint8_t* bytes, size_t size);

} // namespace Kalvory
