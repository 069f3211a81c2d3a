#include "AAA_BitWriter.h"

#include <cassert>

namespace AAA {

void BitWriter::Write(uint32_t bitLength, const std::vector<uint8_t>& data) {
    if (bitLength == 0)
        return;
    assert(data.size() == (bitLength + 7) / 8 && "data.size() == (bitLength + 7) / 8");
    pending_.resize((static_cast<size_t>(pendingBits_) + bitLength + 7) / 8, 0);
    static constexpr uint8_t kFirstByteMask[8] = {0xFF, 0x01, 0x03, 0x07, 0x0F, 0x1F, 0x3F, 0x7F};
    const uint32_t skip = (8 - bitLength % 8) % 8; // unused high bits of data[0]
    for (uint32_t bit = 0; bit < bitLength; ++bit) {
        const uint32_t sourceBit = bit + skip;
        uint8_t byte = data[sourceBit / 8];
        if (sourceBit / 8 == 0)
            byte &= kFirstByteMask[bitLength % 8];
        if ((byte >> (7 - sourceBit % 8)) & 1) {
            const uint32_t target = pendingBits_ + bit;
            pending_[target / 8] |= static_cast<uint8_t>(0x80 >> (target % 8));
        }
    }
    pendingBits_ += bitLength;
    if (pendingBits_ % 8 == 0) {
        sink_->Write(pending_.data(), static_cast<uint32_t>(pending_.size()));
        pendingBits_ = 0;
        pending_.clear();
    }
}

} // namespace AAA
