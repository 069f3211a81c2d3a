#pragma once
// ISO base media files (MP4, MOV, XAVC S): a sequence of top-level boxes,
// each a 32-bit size and a four-character type, the size 1 followed by a
// 64-bit size. Cameras write ftyp, then the media data (mdat), and the movie
// box (moov) with the sample tables when recording stops.
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"

namespace Kalvory {

constexpr uint32_t BoxType(const char (&text)[5]) {
    return uint32_t{static_cast<uint8_t>(text[0])} << 24 | uint32_t{static_cast<uint8_t>(text[1])} << 16 |
           uint32_t{static_cast<uint8_t>(text[2])} << 8 | uint32_t{static_cast<uint8_t>(text[3])};
}

uint32_t Be32(const uint8_t* bytes);
uint64_t Be64(const uint8_t* bytes);

struct BoxHeader {
    uint32_t type = 0;
    uint64_t size = 0;        // the whole box, header included
    uint32_t headerBytes = 0; // 8, or 16 with a 64-bit size
};

// The header of the box at `at` in `bytes` (`available` of them): false when
// it is cut, or its size is smaller than its header or runs to the end
// (size 0), which no walk can bound.
bool ParseBoxHeader(const uint8_t* bytes, size_t available, BoxHeader& header);
// The same from a stream.
bool ReadBoxHeader(AAA::Stream& stream, uint64_t at, BoxHeader& header);

// Whether a sector begins with an ftyp box of a brand cameras write.
bool IsIsoMediaStart(const uint8_t* sector, size_t available);
// The major brand of the ftyp box at the start of `sector`; 0 when none.
uint32_t MajorBrand(const uint8_t* sector, size_t available);

// A top-level box type that follows ftyp in camera files.
bool IsTopLevelType(uint32_t type);

// What the walk of the top-level boxes from a file's start found.
struct TopLevelWalk {
    uint64_t end = 0;       // the end of the last box that fits (relative)
    uint64_t moovAt = 0;    // relative offset of the moov box; 0: none seen
    uint64_t moovSize = 0;
    uint64_t mdatAt = 0;    // of the last mdat box walked; 0: none
    uint64_t mdatSize = 0;
    uint32_t mdatHeaderBytes = 0;
    bool foreign = false;   // a box's end held no box header: other data lies there
};

// Walks from the ftyp box at `start` until the boxes stop, `limit` bytes at
// most (a box running past it ends the walk as foreign data).
TopLevelWalk WalkTopLevelBoxes(AAA::Stream& stream, uint64_t start, uint64_t limit);

// The length of the ISO media file at `start` as the carving row measures it:
// through its last top-level box when a moov is among them; when the walk
// lands in foreign data after an mdat before any moov (a fragmented clip),
// only ftyp and the mdat's header, which a later step completes; else 0.
uint64_t IsoMediaLength(AAA::Stream& stream, uint64_t start);

} // namespace Kalvory
