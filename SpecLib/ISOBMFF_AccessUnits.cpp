#include "ISOBMFF_AccessUnits.h"

#include <algorithm>
#include <optional>

namespace Kalvory {
namespace {

// How far past a chunk of other data the next video chunk is sought.
constexpr uint64_t kResyncBytes = 4u << 20;
constexpr size_t kWindow = 1u << 20;
// NAL units before an access unit's first slice: delimiter, SEI, parameter sets.
constexpr int kMostPrefixUnits = 8;
// Starts inside a unit taken for video that are weighed against it.
constexpr int kMostInnerStarts = 16;

struct Nal {
    uint64_t at;  // its length prefix
    uint64_t end;
    uint8_t type;
    bool firstSlice; // a slice whose first macroblock is the picture's first
    uint32_t sliceType; // of a slice that is first; 99 when its code is no slice type
    uint32_t pps;       // the parameter set the first slice names
};

// The Exp-Golomb code at the start of `bits` (msb first), and the bits it took; 99 when it is too long.
uint32_t ExpGolomb(uint32_t bits, int& used) {
    int zeros = 0;
    while (zeros < 10 && (bits & (0x80000000u >> zeros)) == 0)
        ++zeros;
    used = 2 * zeros + 1;
    if (zeros >= 10)
        return 99;
    return (bits >> (32 - used)) - 1;
}

bool IsVcl(uint8_t type) { return type == 1 || type == 5; }

// A NAL unit that opens the next access unit once the current one has a picture.
bool OpensAccessUnit(const Nal& nal) {
    return (nal.type >= 6 && nal.type <= 9) || (nal.type >= 13 && nal.type <= 18) || (IsVcl(nal.type) && nal.firstSlice);
}

class NalReader {
public:
    NalReader(AAA::Stream& stream, uint64_t to, const NalUnits& units)
        : stream_(stream), to_(to), prefix_(units.lengthBytes), longest_(units.longest), pps_(units.pps),
          kinds_(units.sliceKinds) {}

    // The NAL unit at `at` when its header is one H.264 uses and it ends by `to`.
    std::optional<Nal> At(uint64_t at) {
        uint8_t bytes[8] = {};
        if (at + prefix_ + 4 > to_ || !Read(at, bytes, prefix_ + 4))
            return std::nullopt;
        uint32_t length = 0;
        for (uint32_t i = 0; i < prefix_; ++i)
            length = length << 8 | bytes[i];
        const uint8_t header = bytes[prefix_];
        const uint8_t type = header & 0x1F, reference = (header >> 5) & 3;
        if (length < 2 || length > longest_ || length > to_ - at - prefix_ || (header & 0x80) != 0)
            return std::nullopt;
        const bool referenced = type == 5 || type == 7 || type == 8;
        const bool unreferenced = type == 6 || (type >= 9 && type <= 12);
        const bool known = (type >= 1 && type <= 15) || (type >= 19 && type <= 21);
        if (!known || (referenced && reference == 0) || (unreferenced && reference != 0))
            return std::nullopt;
        // Sound read as a slice seldom has the header the camera gives its slices.
        if (IsVcl(type) && kinds_ != 0 && (kinds_ & SliceKind(header)) == 0)
            return std::nullopt;
        const uint32_t bits = uint32_t{bytes[prefix_ + 1]} << 24 | uint32_t{bytes[prefix_ + 2]} << 16 |
                              uint32_t{bytes[prefix_ + 3]} << 8;
        const bool first = (bits & 0x80000000u) != 0;
        int used = 0;
        const uint32_t sliceType = first ? ExpGolomb(bits << 1, used) : 99;
        int more = 0;
        const uint32_t pps = first && sliceType != 99 ? ExpGolomb(bits << (1 + used), more) : 99;
        return Nal{at, at + prefix_ + length, type, first, sliceType, pps};
    }

    // Whether video data begins at `at`: an access unit's first NAL units
    // (delimiter, SEI, parameter sets) and then its first slice, whose
    // header is one of that unit type. Other tracks' data, sound above all,
    // holds runs of zeros that read like short NAL units; this rarely passes.
    bool BeginsVideo(uint64_t at) {
        for (int units = 0; units < kMostPrefixUnits; ++units) {
            const std::optional<Nal> nal = At(at);
            if (!nal)
                return false;
            if (IsVcl(nal->type))
                return nal->firstSlice && nal->pps == pps_ &&
                       (nal->type == 5 ? nal->sliceType % 5 == 2 || nal->sliceType % 5 == 4 : nal->sliceType <= 9);
            const uint64_t length = nal->end - at - prefix_;
            if (nal->type == 9 && length != 2)
                return false;
            uint8_t last = 0;
            if (nal->type == 6 && (!Read(nal->end - 1, &last, 1) || last != 0x80))
                return false;
            if (nal->type < 6 || nal->type > 9)
                return false;
            at = nal->end;
        }
        return false;
    }

    // The first place from `at` where video data begins again, within reach.
    // Other data that reads as video runs on to a place far from where video
    // begins again; a start inside it that ends nearer one is the video's.
    std::optional<uint64_t> Resync(uint64_t at) {
        const std::optional<uint64_t> first = NextStart(at, kResyncBytes);
        if (!first)
            return first;
        const uint64_t gap = GapAfter(*first, kResyncBytes);
        // A start inside a picture reads on past the next start: it is none.
        const uint64_t end = At(*first)->end, next = end + gap;
        int tried = 0;
        for (uint64_t p = *first + 1; gap > 0 && p < end && tried < kMostInnerStarts; ++p)
            if (BeginsVideo(p) && (++tried, At(p)->end <= next && GapAfter(p, gap) < gap))
                return p;
        return first;
    }

private:
    std::optional<uint64_t> NextStart(uint64_t at, uint64_t reach) {
        const uint64_t limit = std::min(to_, at + reach);
        for (uint64_t q = at; q < limit; ++q)
            if (BeginsVideo(q))
                return q;
        return std::nullopt;
    }

    // The bytes between the end of the unit at `at` (a start) and the next
    // unit or start; `reach` when there is none within it.
    uint64_t GapAfter(uint64_t at, uint64_t reach) {
        const uint64_t end = At(at)->end;
        if (end >= to_ || At(end))
            return 0;
        const std::optional<uint64_t> next = NextStart(end, reach);
        return next ? *next - end : reach;
    }

    bool Read(uint64_t at, uint8_t* bytes, size_t count) {
        const uint64_t windowEnd = windowAt_ + window_.size();
        if (at >= windowAt_ && at + count <= windowEnd) {
            std::copy_n(window_.begin() + static_cast<std::ptrdiff_t>(at - windowAt_), count, bytes);
            return true;
        }
        stream_.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        windowAt_ = at;
        window_.resize(static_cast<size_t>(std::min<uint64_t>(kWindow, to_ - at)));
        window_.resize(stream_.Read(window_.data(), static_cast<uint32_t>(window_.size())));
        if (count > window_.size())
            return false;
        std::copy_n(window_.begin(), count, bytes);
        return true;
    }

    AAA::Stream& stream_;
    uint64_t to_;
    uint32_t prefix_;
    uint32_t longest_;
    uint32_t pps_;
    uint8_t kinds_;
    uint64_t windowAt_ = 0;
    std::vector<uint8_t> window_;
};

class AccessUnitWalk {
public:
    AccessUnitWalk(AAA::Stream& stream, uint64_t to, const NalUnits& units) : reader_(stream, to, units), to_(to) {}

    std::vector<FoundSample> Run(uint64_t from) {
        std::optional<uint64_t> at = reader_.Resync(from);
        while (at && *at < to_) {
            // The last unit before another track's chunk is a slice of the
            // picture, or begins one; other data rarely reads as either.
            const std::optional<Nal> nal = reader_.At(*at);
            const bool followed = nal && (nal->end >= to_ || reader_.At(nal->end));
            if (nal && (followed || ContinuesPicture(*nal) || reader_.BeginsVideo(*at))) {
                Add(*nal);
                at = nal->end;
                continue;
            }
            // Another track's chunk: the video picks up where an access unit begins.
            Close();
            at = reader_.Resync(*at + 1);
        }
        Close();
        return std::move(samples_);
    }

private:
    bool ContinuesPicture(const Nal& nal) const { return open_ && hasPicture_ && IsVcl(nal.type) && !nal.firstSlice; }

    void Add(const Nal& nal) {
        if (open_ && hasPicture_ && OpensAccessUnit(nal))
            Close();
        if (!open_) {
            open_ = true;
            current_ = {nal.at, 0, false};
        }
        current_.size = static_cast<uint32_t>(nal.end - current_.offset);
        current_.sync = current_.sync || nal.type == 5;
        hasPicture_ = hasPicture_ || IsVcl(nal.type);
    }

    void Close() {
        if (open_ && hasPicture_)
            samples_.push_back(current_);
        open_ = hasPicture_ = false;
    }

    NalReader reader_;
    uint64_t to_;
    std::vector<FoundSample> samples_;
    FoundSample current_{};
    bool open_ = false;
    bool hasPicture_ = false;
};

} // namespace

std::vector<FoundSample> FindAccessUnits(AAA::Stream& stream, uint64_t from, uint64_t to, const NalUnits& units) {
    if (units.lengthBytes < 1 || units.lengthBytes > 4 || to <= from)
        return {};
    return AccessUnitWalk(stream, to, units).Run(from);
}

} // namespace Kalvory
