#pragma once
// The four-byte words the DV clip walk tests: little-endian sizes, chunk
// ids, and the DIF sequence header whose fourth byte is free.
#include <cstdint>
#include <cstring>

namespace Kalvory {

inline uint32_t LittleEndian32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// What four bytes must hold: the bits of `mask` compared with `bytes`.
struct DvMarker {
    uint8_t bytes[4];
    uint8_t mask[4];

    bool Matches(const uint8_t* word) const {
        for (int i = 0; i < 4; ++i)
            if ((word[i] & mask[i]) != bytes[i])
                return false;
        return true;
    }
    static DvMarker FourCc(const char* id) {
        DvMarker marker{{}, {0xFF, 0xFF, 0xFF, 0xFF}};
        std::memcpy(marker.bytes, id, 4);
        return marker;
    }
    static DvMarker SizeWord(uint32_t size) {
        return {{static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size >> 16),
                 static_cast<uint8_t>(size >> 24)},
                {0xFF, 0xFF, 0xFF, 0xFF}};
    }
    // The header block of DIF sequence `sequence`: 0x1 in the high nibble,
    // then (sequence mod 16) x 16 + 7, then 0.
    static DvMarker DifHeader(uint32_t sequence) {
        return {{0x10, static_cast<uint8_t>((sequence % 16) * 16 + 7), 0x00, 0x00}, {0xF0, 0xFF, 0xFF, 0x00}};
    }
};

} // namespace Kalvory
