#include "ISOBMFF_PictureOrder.h"

#include <algorithm>
#include <numeric>

namespace Kalvory {
namespace {

// A slice header's start holds no more than this (emulation bytes removed).
constexpr size_t kHeaderBytes = 32;

class Bits {
public:
    explicit Bits(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    uint32_t Get(uint32_t count) {
        uint32_t value = 0;
        for (uint32_t i = 0; i < count; ++i, ++at_) {
            if (at_ >= bytes_.size() * 8) {
                cut_ = true;
                return 0;
            }
            value = value << 1 | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
        }
        return value;
    }
    uint32_t Ue() {
        uint32_t zeros = 0;
        while (zeros < 32 && Get(1) == 0 && !cut_)
            ++zeros;
        if (zeros >= 32) {
            cut_ = true;
            return 0;
        }
        return (uint32_t{1} << zeros) - 1 + Get(zeros);
    }
    int32_t Se() {
        const uint32_t code = Ue();
        return code % 2 ? static_cast<int32_t>((code + 1) / 2) : -static_cast<int32_t>(code / 2);
    }
    bool Cut() const { return cut_; }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
    bool cut_ = false;
};

// The NAL unit's payload past its header, its emulation prevention bytes taken out.
std::vector<uint8_t> Unescaped(const uint8_t* nal, size_t size) {
    std::vector<uint8_t> out;
    int zeros = 0;
    for (size_t i = 1; i < size && out.size() < kHeaderBytes; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = nal[i] == 0 ? zeros + 1 : 0;
        out.push_back(nal[i]);
    }
    return out;
}

void SkipScalingList(Bits& bits, int size) {
    int32_t last = 8, next = 8;
    for (int j = 0; j < size && !bits.Cut(); ++j) {
        if (next != 0)
            next = (last + bits.Se() + 256) % 256;
        last = next == 0 ? last : next;
    }
}

bool HighProfile(uint32_t profile) {
    for (const uint32_t high : {100u, 110u, 122u, 244u, 44u, 83u, 86u, 118u, 128u, 138u, 139u, 134u, 135u})
        if (profile == high)
            return true;
    return false;
}

// The picture's order count low bits, from its first slice; none when it does not read.
std::optional<uint32_t> OrderCountLsb(AAA::Stream& stream, const FoundSample& sample, uint32_t prefix,
                                      const AvcSequence& sequence, bool& reference) {
    std::vector<uint8_t> bytes(std::min<size_t>(sample.size, 4096));
    stream.Seek(static_cast<int64_t>(sample.offset), AAA::SeekBegin);
    if (stream.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size())
        return std::nullopt;
    for (size_t at = 0; at + prefix < bytes.size();) {
        size_t length = 0;
        for (uint32_t i = 0; i < prefix; ++i)
            length = length << 8 | bytes[at + i];
        const uint8_t header = bytes[at + prefix];
        const uint8_t type = header & 0x1F;
        if (type == 1 || type == 5) {
            Bits bits(Unescaped(bytes.data() + at + prefix, std::min(length, bytes.size() - at - prefix)));
            bits.Ue(); // first macroblock
            bits.Ue(); // slice type
            bits.Ue(); // picture parameter set
            if (sequence.separateColourPlanes)
                bits.Get(2);
            bits.Get(sequence.frameNumBits);
            if (!sequence.framesOnly && bits.Get(1))
                bits.Get(1); // a field: which
            if (type == 5)
                bits.Ue(); // IDR picture id
            const uint32_t lsb = bits.Get(sequence.orderCountLsbBits);
            reference = (header >> 5) != 0;
            return bits.Cut() ? std::nullopt : std::optional(lsb);
        }
        at += prefix + length;
    }
    return std::nullopt;
}

} // namespace

std::optional<AvcSequence> AvcSequenceOf(const uint8_t* sps, size_t size) {
    if (size < 4 || (sps[0] & 0x1F) != 7)
        return std::nullopt;
    Bits bits(Unescaped(sps, size));
    AvcSequence sequence;
    const uint32_t profile = bits.Get(8);
    bits.Get(16); // constraints, level
    bits.Ue();    // its id
    if (HighProfile(profile)) {
        const uint32_t chroma = bits.Ue();
        if (chroma == 3)
            sequence.separateColourPlanes = bits.Get(1) != 0;
        bits.Ue(); // luma bit depth
        bits.Ue(); // chroma bit depth
        bits.Get(1);
        if (bits.Get(1)) // scaling matrices
            for (int i = 0; i < (chroma == 3 ? 12 : 8); ++i)
                if (bits.Get(1))
                    SkipScalingList(bits, i < 6 ? 16 : 64);
    }
    sequence.frameNumBits = bits.Ue() + 4;
    sequence.orderCountType = bits.Ue();
    if (sequence.orderCountType == 0)
        sequence.orderCountLsbBits = bits.Ue() + 4;
    else if (sequence.orderCountType == 1)
        return std::nullopt; // counts of this type follow from the frame numbers: not read
    bits.Ue();   // reference frames
    bits.Get(1); // gaps allowed
    bits.Ue();   // width
    bits.Ue();   // height
    sequence.framesOnly = bits.Get(1) != 0;
    if (bits.Cut() || sequence.frameNumBits > 16 || sequence.orderCountLsbBits > 16 || sequence.orderCountType > 2)
        return std::nullopt;
    return sequence;
}

std::optional<std::vector<uint32_t>> CompositionOffsets(AAA::Stream& stream, const std::vector<FoundSample>& samples,
                                                        uint32_t nalLengthBytes, const AvcSequence& sequence,
                                                        uint32_t delta) {
    if (sequence.orderCountType != 0 || nalLengthBytes < 1 || nalLengthBytes > 4)
        return std::nullopt;
    // Each picture's count, with the pictures before its IDR ahead of it.
    const int64_t wrap = int64_t{1} << sequence.orderCountLsbBits;
    std::vector<int64_t> counts;
    int64_t previousMsb = 0, previousLsb = 0, base = 0, highest = 0;
    for (const FoundSample& sample : samples) {
        bool reference = false;
        const std::optional<uint32_t> lsb = OrderCountLsb(stream, sample, nalLengthBytes, sequence, reference);
        if (!lsb)
            return std::nullopt;
        if (sample.sync) {
            base = counts.empty() ? 0 : highest + 1;
            previousMsb = previousLsb = 0;
        }
        int64_t msb = previousMsb;
        if (*lsb < previousLsb && previousLsb - *lsb >= wrap / 2)
            msb += wrap;
        else if (*lsb > previousLsb && *lsb - previousLsb > wrap / 2)
            msb -= wrap;
        if (reference)
            previousMsb = msb, previousLsb = *lsb;
        counts.push_back(base + msb + *lsb);
        highest = std::max(highest, counts.back());
    }
    // The rank of each picture in the order of display.
    std::vector<size_t> shown(samples.size());
    std::iota(shown.begin(), shown.end(), size_t{0});
    std::stable_sort(shown.begin(), shown.end(), [&](size_t a, size_t b) { return counts[a] < counts[b]; });
    std::vector<int64_t> offsets(samples.size());
    for (size_t rank = 0; rank < shown.size(); ++rank)
        offsets[shown[rank]] = static_cast<int64_t>(rank) - static_cast<int64_t>(shown[rank]);
    const int64_t least = *std::min_element(offsets.begin(), offsets.end());
    std::vector<uint32_t> out;
    for (const int64_t offset : offsets)
        out.push_back(static_cast<uint32_t>((offset - least) * delta));
    return out;
}

} // namespace Kalvory
