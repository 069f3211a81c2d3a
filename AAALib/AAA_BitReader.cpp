#include "AAA_BitReader.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "AAA_Exceptions.h"

namespace AAA {
namespace {
constexpr const char* kSourceFile = "AAALib/AAA_BitReader";
}

void BitReader::Fetch(uint8_t* out, size_t count, int line) {
    size_t done = 0;
    while (done < count) {
        const uint32_t piece = static_cast<uint32_t>(std::min<size_t>(count - done, 0x40000000));
        const uint32_t got = source_->Read(out + done, piece);
        done += got;
        if (got < piece)
            break;
    }
    if (done < count)
        ThrowLogged<UnexpectedEofException>(kSourceFile, line, "UnexpectedEofException()");
}

void BitReader::Read(uint32_t bitLength, std::vector<uint8_t>& out) {
    Read(bitLength, out.data(), out.size());
}

void BitReader::Read(uint32_t bitLength, uint8_t* out, size_t outSize) {
    if (bitLength == 0)
        return;
    const uint32_t head = static_cast<uint32_t>(bitsConsumed_ % 8);
    const size_t bytes = (static_cast<size_t>(head) + bitLength + 7) / 8;
    work_.resize(bytes);
    if (head == 0) {
        Fetch(work_.data(), bytes, 47);
    } else {
        work_[0] = carry_;
        if (bytes > 1)
            Fetch(work_.data() + 1, bytes - 1, 41);
    }
    carry_ = work_.back();
    work_[0] &= static_cast<uint8_t>(0xFF >> head);

    const uint32_t tail = static_cast<uint32_t>((bitsConsumed_ + bitLength) % 8);
    if (tail == 0) {
        std::memcpy(out, work_.data() + (bytes - outSize), outSize);
    } else {
        const size_t diff = bytes - outSize;
        assert((diff == 0 || diff == 1) && "diff == 0 || diff == 1");
        const uint32_t shift = 8 - tail;
        // Shift the whole buffer right so the value ends at the last bit of `out`.
        for (size_t i = outSize; i-- > 0;) {
            const size_t source = i + diff;
            const unsigned low = work_[source] >> shift;
            const unsigned high = source > 0 ? (work_[source - 1] << (8 - shift)) & 0xFF : 0;
            out[i] = static_cast<uint8_t>(low | high);
        }
    }
    bitsConsumed_ += bitLength;
}

void BitReader::ReadAlignedBytes(uint8_t* out, size_t count) {
    assert(IsByteAligned());
    if (count == 0)
        return;
    Fetch(out, count, 47);
    carry_ = out[count - 1];
    bitsConsumed_ += static_cast<uint64_t>(count) * 8;
}

} // namespace AAA
