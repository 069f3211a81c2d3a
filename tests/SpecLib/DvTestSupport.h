#pragma once
// DV clip layouts read without a device: a stream over a layout's pieces
// (zeros between them), and the layout's runs as the walk's extents.
#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "AAA_Stream.h"
#include "DV_Clip.h"
#include "support/DvClipWriter.h"

namespace DvTest {

// The layout at `base` of a medium `length` bytes long (default: the
// layout's end). Read-only.
class LayoutStream : public AAA::Stream {
public:
    explicit LayoutStream(const TestSupport::DvClipLayout& layout, uint64_t base = 0, uint64_t length = 0)
        : layout_(layout), base_(base), length_(length ? length : base + layout.span) {}

    int64_t Seek(int64_t offset, int origin) override {
        position_ = static_cast<uint64_t>(origin == AAA::SeekBegin ? offset
                                          : origin == AAA::SeekCurrent ? static_cast<int64_t>(position_) + offset
                                                                       : static_cast<int64_t>(length_) + offset);
        return static_cast<int64_t>(position_);
    }
    uint32_t Read(void* buffer, uint32_t count) override {
        ++reads;
        const uint64_t end = std::min<uint64_t>(position_ + count, length_);
        if (position_ >= end)
            return 0;
        auto* out = static_cast<uint8_t*>(buffer);
        std::memset(out, 0, end - position_);
        const auto& pieces = layout_.pieces;
        // The last piece starting at or before the read, then on.
        auto it = std::upper_bound(pieces.begin(), pieces.end(), position_ - std::min(position_, base_),
                                   [](uint64_t at, const auto& piece) { return at < piece.first; });
        if (it != pieces.begin())
            --it;
        for (; it != pieces.end() && base_ + it->first < end; ++it) {
            const uint64_t from = std::max(position_, base_ + it->first);
            const uint64_t to = std::min(end, base_ + it->first + it->second.size());
            if (from < to)
                std::memcpy(out + (from - position_), it->second.data() + (from - base_ - it->first), to - from);
        }
        const auto n = static_cast<uint32_t>(end - position_);
        position_ = end;
        return n;
    }
    void Write(const void*, uint32_t) override { throw std::logic_error("read-only"); }
    int64_t Length() override { return static_cast<int64_t>(length_); }

    uint64_t reads = 0;

private:
    const TestSupport::DvClipLayout& layout_;
    uint64_t base_;
    uint64_t length_;
    uint64_t position_ = 0;
};

inline Kalvory::DvExtentList Extents(const TestSupport::DvRuns& runs, uint64_t base = 0) {
    Kalvory::DvExtentList extents;
    for (const TestSupport::DvRun& run : runs)
        extents.push_back({base + run.offset, run.length});
    return extents;
}

// Damage: `bytes` over what the layout holds at `offset` (within one piece,
// or where none is).
inline void Overwrite(TestSupport::DvClipLayout& layout, uint64_t offset, const std::string& bytes) {
    auto& pieces = layout.pieces;
    for (auto& [at, piece] : pieces)
        if (at <= offset && offset + bytes.size() <= at + piece.size()) {
            piece.replace(offset - at, bytes.size(), bytes);
            return;
        }
    const auto after = std::upper_bound(pieces.begin(), pieces.end(), offset,
                                        [](uint64_t at, const auto& piece) { return at < piece.first; });
    pieces.emplace(after, offset, bytes);
}

inline std::string Le32(uint32_t value) {
    return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
            static_cast<char>(value >> 24)};
}

} // namespace DvTest
