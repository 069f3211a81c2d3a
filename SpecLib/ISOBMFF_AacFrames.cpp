#include "ISOBMFF_AacFrames.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>

namespace Kalvory {
namespace {

enum Element : uint32_t { kSce = 0, kCpe = 1, kFil = 6 };
constexpr uint32_t kEightShort = 2;
constexpr uint32_t kReservedCodebook = 12;
// Scale factor bands by sampling frequency index, long and short windows.
constexpr uint32_t kLongBands[12] = {41, 41, 47, 49, 49, 51, 47, 47, 43, 43, 43, 40};
constexpr uint32_t kShortBands[12] = {12, 12, 12, 14, 14, 14, 15, 15, 15, 15, 15, 15};
// An AAC frame should hold at most 6144 bits a channel; encoders at high
// rates go past it.
constexpr size_t kMostBytesPerChannel = 2048;
constexpr size_t kLeastFrame = 4;
// Fill elements ahead of the channel element (an encoder's name, now and
// then). Data elements are not looked for: skipping one's bytes lands where
// the check passes too often.
constexpr int kMostLeadingFills = 2;

class Bits {
public:
    Bits(const uint8_t* bytes, size_t size) : bytes_(bytes), bits_(size * 8) {}
    uint32_t Get(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++at_) {
            if (at_ >= bits_) {
                cut_ = true;
                return 0;
            }
            value = value << 1 | ((bytes_[at_ / 8] >> (7 - at_ % 8)) & 1u);
        }
        return value;
    }
    void Skip(size_t count) { at_ = std::min(bits_ + 1, at_ + count), cut_ = cut_ || at_ > bits_; }
    void Align() { Skip((8 - at_ % 8) % 8); }
    bool Cut() const { return cut_; }

private:
    const uint8_t* bytes_;
    size_t bits_;
    size_t at_ = 0;
    bool cut_ = false;
};

struct IcsInfo {
    uint32_t maxSfb = 0;
    uint32_t groups = 1;
    bool shortWindows = false;
};

bool ReadIcsInfo(Bits& bits, const AacLayout& layout, IcsInfo& info) {
    if (bits.Get(1) != 0) // reserved
        return false;
    info.shortWindows = bits.Get(2) == kEightShort;
    bits.Get(1); // window shape
    if (info.shortWindows) {
        info.maxSfb = bits.Get(4);
        const uint32_t grouping = bits.Get(7);
        info.groups = 1 + static_cast<uint32_t>(7 - std::popcount(grouping));
        return !bits.Cut() && info.maxSfb <= kShortBands[layout.frequencyIndex];
    }
    info.maxSfb = bits.Get(6);
    // Prediction is no tool of the LC profile.
    return bits.Get(1) == 0 && !bits.Cut() && info.maxSfb <= kLongBands[layout.frequencyIndex];
}

// The sections must cover the bands exactly, each with a codebook that exists.
bool ReadSections(Bits& bits, const IcsInfo& info) {
    const int lengthBits = info.shortWindows ? 3 : 5;
    const uint32_t escape = (1u << lengthBits) - 1;
    for (uint32_t g = 0; g < info.groups; ++g)
        for (uint32_t band = 0; band < info.maxSfb;) {
            if (bits.Get(4) == kReservedCodebook)
                return false;
            uint32_t length = 0, increment = 0;
            do {
                increment = bits.Get(lengthBits);
                length += increment;
            } while (increment == escape && !bits.Cut());
            if (bits.Cut() || length == 0 || band + length > info.maxSfb)
                return false;
            band += length;
        }
    return true;
}

bool ReadChannel(Bits& bits, const AacLayout& layout, std::optional<IcsInfo> common) {
    // A gain of 0 quantizes far finer than any sound needs; runs of zeros read so.
    if (bits.Get(8) == 0)
        return false;
    IcsInfo info;
    if (common)
        info = *common;
    else if (!ReadIcsInfo(bits, layout, info))
        return false;
    return ReadSections(bits, info);
}

// A fill element: its payload one of the kinds an LC stream carries, a fill's nibble 0.
bool SkipFill(Bits& bits) {
    enum : uint32_t { kFill = 0, kFillData = 1, kDataElement = 2, kDynamicRange = 11 };
    uint32_t count = bits.Get(4);
    if (count == 15)
        count += bits.Get(8) - 1;
    if (count == 0)
        return !bits.Cut();
    const uint32_t kind = bits.Get(4);
    if (kind == kFill && bits.Get(4) != 0)
        return false;
    if (kind != kFill && kind != kFillData && kind != kDataElement && kind != kDynamicRange)
        return false;
    bits.Skip(8 * size_t{count} - (kind == kFill ? 8 : 4));
    return !bits.Cut();
}

// Whether a frame of `layout` may begin `bytes`: its channel element (tag 0)
// and side info as far as it goes without the Huffman codes.
bool BeginsFrame(const AacLayout& layout, const uint8_t* bytes, size_t size) {
    Bits bits(bytes, size);
    uint32_t element = bits.Get(3);
    for (int i = 0; i < kMostLeadingFills && element == kFil; ++i) {
        if (!SkipFill(bits))
            return false;
        element = bits.Get(3);
    }
    if (element != (layout.channels == 1 ? kSce : kCpe) || bits.Get(4) != 0)
        return false;
    if (element == kSce)
        return ReadChannel(bits, layout, std::nullopt);
    if (bits.Get(1) == 0) // no common window
        return ReadChannel(bits, layout, std::nullopt);
    IcsInfo info;
    if (!ReadIcsInfo(bits, layout, info))
        return false;
    const uint32_t mask = bits.Get(2);
    if (mask == 3)
        return false;
    if (mask == 1)
        bits.Skip(size_t{info.groups} * info.maxSfb);
    return ReadChannel(bits, layout, info);
}

// Whether a frame may end just before `end`: END's 1 bits, then zeros to the byte.
bool EndsFrame(const uint8_t* bytes, size_t end) {
    if (end < 2 || bytes[end - 1] == 0)
        return false;
    const int padding = std::countr_zero(bytes[end - 1]);
    const uint32_t last = uint32_t{bytes[end - 2]} << 8 | bytes[end - 1];
    return ((last >> padding) & 7u) == 7u;
}

size_t Longest(const AacLayout& layout) { return kMostBytesPerChannel * layout.channels; }

// The borders between frames a chunk may have, each with the best path of
// frames from the chunk's start to it.
class FrameSplit {
public:
    FrameSplit(const AacLayout& layout, const uint8_t* bytes, size_t size, const AacFrameSizes& likely)
        : bytes_(bytes), size_(size), longest_(Longest(layout)), likely_(likely) {
        borders_.push_back({0, 0, -1});
        for (size_t at = kLeastFrame; at + kLeastFrame <= size; ++at)
            if (EndsFrame(bytes, at) && BeginsFrame(layout, bytes + at, size - at))
                if (const std::optional<Reached> from = Reach(at))
                    borders_.push_back({at, from->score, static_cast<int>(from->border)});
    }

    // The last frame's border when a frame ends the bytes.
    std::optional<size_t> LastAtEnd() const {
        if (!EndsFrame(bytes_, size_))
            return std::nullopt;
        const std::optional<Reached> from = Reach(size_);
        return from ? std::optional(from->border) : std::nullopt;
    }

    // Where the bytes may be cut: the last frame begins at the last border
    // before its end (a cut frame's first bytes with what follows may read as
    // the end of one) and is of a size the encoder makes.
    std::optional<size_t> LastBeforeCut() {
        constexpr double kLeastLastScore = -4;
        size_t latest = borders_.size() - 1;
        for (end_ = size_; end_ >= kLeastFrame; --end_) {
            while (latest > 0 && borders_[latest].at + kLeastFrame > end_)
                --latest;
            const size_t at = borders_[latest].at;
            if (at + kLeastFrame > end_ || end_ - at > longest_)
                return std::nullopt;
            const bool beforeNext = latest + 1 == borders_.size() || borders_[latest + 1].at >= end_;
            if (beforeNext && EndsFrame(bytes_, end_) && likely_.Score(end_ - at) >= kLeastLastScore)
                return latest;
        }
        return std::nullopt;
    }

    // The sizes of the frames through the one at border `last`.
    std::vector<uint32_t> Sizes(size_t last) const {
        std::vector<size_t> ends{end_};
        for (int i = static_cast<int>(last); i > 0; i = borders_[size_t(i)].previous)
            ends.push_back(borders_[size_t(i)].at);
        std::vector<uint32_t> sizes;
        size_t from = 0;
        for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
            sizes.push_back(static_cast<uint32_t>(*it - from));
            from = *it;
        }
        return sizes;
    }

private:
    struct Border {
        size_t at;
        double score; // of the best path of frames to it
        int previous;
    };
    struct Reached {
        size_t border;
        double score;
    };

    // The best border a frame ending at `at` can begin at.
    std::optional<Reached> Reach(size_t at) const {
        std::optional<Reached> best;
        for (size_t i = borders_.size(); i-- > 0;) {
            const Border& border = borders_[i];
            if (border.at + kLeastFrame > at)
                continue;
            if (at - border.at > longest_)
                break;
            const double score = border.score + likely_.Score(at - border.at);
            if (!best || score > best->score)
                best = Reached{i, score};
        }
        return best;
    }

    const uint8_t* bytes_;
    size_t size_;
    size_t longest_;
    const AacFrameSizes& likely_;
    std::vector<Border> borders_;
    size_t end_ = size_; // where the last frame ends
};

} // namespace

AacFrameSizes::AacFrameSizes(const std::vector<uint32_t>& seen) {
    // Sizes past any frame's are a damaged table's.
    std::vector<uint32_t> sizes;
    std::copy_if(seen.begin(), seen.end(), std::back_inserter(sizes),
                 [](uint32_t size) { return size >= kLeastFrame && size <= 2 * kMostBytesPerChannel; });
    if (sizes.size() < 2)
        return;
    double sum = 0, squares = 0;
    for (const uint32_t size : sizes) {
        sum += size;
        squares += double(size) * size;
    }
    const double n = double(sizes.size());
    mean_ = sum / n;
    // An encoder that keeps to its rate makes sizes close together; some room is left all the same.
    spread_ = std::max({std::sqrt(std::max(0.0, squares / n - mean_ * mean_)), mean_ / 8, 4.0});
    atMost_.assign(*std::max_element(sizes.begin(), sizes.end()) + size_t{1}, 0);
    for (const uint32_t size : sizes)
        ++atMost_[size];
    for (size_t s = 1; s < atMost_.size(); ++s)
        atMost_[s] += atMost_[s - 1];
}

double AacFrameSizes::Score(size_t size) const {
    // Of two splits alike, the one with more frames.
    constexpr double kFrameBonus = 0.5;
    if (spread_ == 0)
        return 1;
    const double z = (double(size) - mean_) / spread_;
    const double score = kFrameBonus - z * z / 2;
    // Sizes far from the mean the encoder makes often all the same, as for silence.
    constexpr size_t kNear = 2;
    const auto upTo = [&](size_t s) { return atMost_.empty() ? 0 : atMost_[std::min(s, atMost_.size() - 1)]; };
    const uint32_t near = upTo(size + kNear) - (size > kNear ? upTo(size - kNear - 1) : 0);
    const bool often = near >= std::max<uint32_t>(2, atMost_.empty() ? 0 : atMost_.back() / 100);
    return often ? std::max(score, kFrameBonus - 1) : score;
}

bool MayBeAacFrame(const AacLayout& layout, const uint8_t* bytes, size_t available, size_t size) {
    if (available < size)
        return true; // a cut frame's side info may run past what is at hand: no verdict
    return size >= 2 && BeginsFrame(layout, bytes, size) && EndsFrame(bytes, size);
}

std::optional<AacLayout> AacLayoutOf(const uint8_t* config, size_t size) {
    if (size < 2)
        return std::nullopt;
    constexpr uint32_t kLowComplexity = 2;
    const uint32_t type = config[0] >> 3;
    const uint32_t frequency = (config[0] & 7u) << 1 | config[1] >> 7;
    const uint32_t channels = (config[1] >> 3) & 15u;
    if (type != kLowComplexity || frequency >= 12 || channels < 1 || channels > 2)
        return std::nullopt;
    return AacLayout{channels, frequency};
}

std::optional<std::vector<uint32_t>> SplitAacFrames(const AacLayout& layout, const uint8_t* bytes, size_t size,
                                                    ChunkEnd end, const AacFrameSizes& likely) {
    if (layout.channels < 1 || layout.channels > 2 || layout.frequencyIndex >= 12 || size < kLeastFrame ||
        !BeginsFrame(layout, bytes, size))
        return std::nullopt;
    FrameSplit split(layout, bytes, size, likely);
    std::optional<size_t> last = split.LastAtEnd();
    if (!last && end == ChunkEnd::MayBeCut)
        last = split.LastBeforeCut();
    return last ? std::optional(split.Sizes(*last)) : std::nullopt;
}

} // namespace Kalvory
