#pragma once
// Reads values of any bit length from a stream, most significant bit first,
// bytes in stream order; results are right-aligned in their byte vector.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace AAA {

class BitReader {
public:
    explicit BitReader(Stream& source) : source_(&source) {}

    // `out` must already hold (bitLength + 7) / 8 bytes.
    void Read(uint32_t bitLength, std::vector<uint8_t>& out);
    void Read(uint32_t bitLength, uint8_t* out, size_t outSize);

    // Bulk path for byte-aligned runs: `count` raw bytes straight from the
    // stream (tables of millions of entries are read this way).
    void ReadAlignedBytes(uint8_t* out, size_t count);

    uint64_t BitsConsumed() const { return bitsConsumed_; }
    bool IsByteAligned() const { return bitsConsumed_ % 8 == 0; }

private:
    void Fetch(uint8_t* out, size_t count, int line);

    Stream* source_;
    uint64_t bitsConsumed_ = 0;
    std::vector<uint8_t> work_;
    uint8_t carry_ = 0;
};

} // namespace AAA
