#include "ISOBMFF_AccessUnits.h"

#include <algorithm>
#include <optional>

namespace Kalvory {
namespace {

// How far past a chunk of other data the next video chunk is sought.
constexpr uint64_t kResyncBytes = 4u << 20;
constexpr size_t kWindow = 1u << 20;

struct Nal {
    uint64_t at;  // its length prefix
    uint64_t end;
    uint8_t type;
    bool firstSlice; // a slice whose first macroblock is the picture's first
};

bool IsVcl(uint8_t type) { return type == 1 || type == 5; }

// A NAL unit that opens the next access unit once the current one has a picture.
bool OpensAccessUnit(const Nal& nal) {
    return (nal.type >= 6 && nal.type <= 9) || (nal.type >= 13 && nal.type <= 18) || (IsVcl(nal.type) && nal.firstSlice);
}

class NalReader {
public:
    NalReader(AAA::Stream& stream, uint64_t to, uint32_t prefix, uint32_t longest)
        : stream_(stream), to_(to), prefix_(prefix), longest_(longest) {}

    // The NAL unit at `at` when its header is one H.264 uses and it ends by `to`.
    std::optional<Nal> At(uint64_t at) {
        uint8_t bytes[6] = {};
        if (at + prefix_ + 2 > to_ || !Read(at, bytes, prefix_ + 2))
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
        return Nal{at, at + prefix_ + length, type, (bytes[prefix_ + 1] & 0x80) != 0};
    }

    // The first place from `at` where video data begins again, within reach:
    // a chunk of it begins an access unit.
    std::optional<uint64_t> Resync(uint64_t at) {
        const uint64_t limit = std::min(to_, at + kResyncBytes);
        for (uint64_t q = at; q < limit; ++q)
            if (const std::optional<Nal> nal = At(q); nal && OpensAccessUnit(*nal))
                return q;
        return std::nullopt;
    }

private:
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
    uint64_t windowAt_ = 0;
    std::vector<uint8_t> window_;
};

class AccessUnitWalk {
public:
    AccessUnitWalk(AAA::Stream& stream, uint64_t to, uint32_t prefix, uint32_t longest)
        : reader_(stream, to, prefix, longest), to_(to) {}

    std::vector<FoundSample> Run(uint64_t from) {
        std::optional<uint64_t> at = reader_.Resync(from);
        while (at && *at < to_) {
            if (const std::optional<Nal> nal = reader_.At(*at)) {
                Add(*nal);
                at = nal->end;
                continue;
            }
            // Another track's chunk: the next chunk of video begins an access unit.
            Close();
            at = reader_.Resync(*at + 1);
        }
        Close();
        return std::move(samples_);
    }

private:
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

std::vector<FoundSample> FindAccessUnits(AAA::Stream& stream, uint64_t from, uint64_t to, uint32_t nalLengthBytes,
                                         uint32_t longestNal) {
    if (nalLengthBytes < 1 || nalLengthBytes > 4 || to <= from)
        return {};
    return AccessUnitWalk(stream, to, nalLengthBytes, longestNal).Run(from);
}

} // namespace Kalvory
