#pragma once
// Writes values of any bit length to a stream, most significant bit first.
// Bits that never complete a byte are never written.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"

namespace AAA {

class BitWriter {
public:
    explicit BitWriter(Stream& sink) : sink_(&sink) {}

    // `data` must hold exactly (bitLength + 7) / 8 bytes, right-aligned.
    void Write(uint32_t bitLength, const std::vector<uint8_t>& data);

    uint32_t PendingBits() const { return pendingBits_; }

private:
    Stream* sink_;
    uint32_t pendingBits_ = 0;
    std::vector<uint8_t> pending_;
};

} // namespace AAA
