#pragma once
// Boxes read in place from a movie box held in memory, and boxes written
// anew: what rebuilding a moov from a template's takes.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <vector>

#include "ISOBMFF_Boxes.h"

namespace Kalvory {

struct Span {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

// Calls `each(type, whole box, payload)` for the boxes in `span`; false when one is cut.
template <class Each>
bool ForEachBox(Span span, Each each) {
    for (size_t at = 0; at + 8 <= span.size;) {
        BoxHeader header;
        if (!ParseBoxHeader(span.bytes + at, span.size - at, header) || header.size > span.size - at)
            return false;
        const auto size = static_cast<size_t>(header.size);
        each(header.type, Span{span.bytes + at, size}, Span{span.bytes + at + header.headerBytes, size - header.headerBytes});
        at += size;
    }
    return true;
}

// The payload of the first box of `type` inside `span`.
std::optional<Span> Child(Span span, uint32_t type);
// The payload reached through boxes of `types`, one inside the other.
std::optional<Span> Path(Span span, std::initializer_list<uint32_t> types);
// The payload of a moov (its header included); none when it is cut.
std::optional<Span> MoovPayload(const std::vector<uint8_t>& moov);
// The moov payload's traks in order.
std::vector<Span> Traks(Span moov);
// The sample entries' payload in a trak's stsd (past its version and count).
std::optional<Span> SampleEntries(Span trak);
// The timescale of an mvhd or mdhd payload; 0 when it is cut.
uint32_t TimescaleOf(std::optional<Span> header);

class BoxWriter {
public:
    size_t Open(uint32_t type) {
        const size_t at = out.size();
        U32(0);
        U32(type);
        return at;
    }
    void Close(size_t at) { Patch32(at, static_cast<uint32_t>(out.size() - at)); }
    void Patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
    }
    void U32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Bytes(Span span) { out.insert(out.end(), span.bytes, span.bytes + span.size); }
    // A chunk offset table for `offsets`, 64-bit when one needs it.
    void ChunkOffsets(const std::vector<uint64_t>& offsets);
    std::vector<uint8_t> out;
};

} // namespace Kalvory
