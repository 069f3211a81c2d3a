#include "Picture_ScanWalk.h"

#include <algorithm>
#include <cstring>

namespace Kalvory {
namespace {

constexpr uint8_t kFirstRestart = 0xD0;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;
constexpr uint8_t kRestartInterval = 0xDD;
// Intervals seen before their widest one bounds the spacing of the next.
constexpr uint64_t kIntervalsBeforeSpacing = 4;

bool IsRestart(uint8_t code) { return code >= kFirstRestart && code <= 0xD7; }
bool HasLength(uint8_t code) { return (code >= 0xC0 && code <= 0xCF) || (code >= kStartOfScan && code != 0xFF); }
// Baseline and extended sequential Huffman frames: one scan can hold every component.
bool IsSequentialFrame(uint8_t code) { return code == 0xC0 || code == 0xC1; }
bool IsFrame(uint8_t code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }
uint64_t Units(uint64_t pixels, uint64_t block) { return (pixels + block - 1) / block; }

} // namespace

ScanStep JpegScanWalk::Feed(const uint8_t* bytes, size_t count) {
    bool confirmed = false;
    for (size_t k = 0; k < count;) {
        if (phase_ == Phase::Ended)
            return ScanStep::Refuted; // bytes after the end
        if (phase_ == Phase::Segment && segmentLeft_ > 0) {
            const size_t skip = std::min<size_t>(segmentLeft_, count - k);
            const size_t keep = std::min<size_t>(skip, sizeof head_ - std::min<size_t>(headBytes_, sizeof head_));
            std::memcpy(head_ + headBytes_, bytes + k, keep);
            headBytes_ += static_cast<uint32_t>(keep);
            segmentLeft_ -= static_cast<uint32_t>(skip);
            position_ += skip;
            k += skip;
            if (segmentLeft_ == 0 && !SegmentEnd())
                return ScanStep::Refuted;
            continue;
        }
        if (phase_ == Phase::Entropy) {
            const void* found = std::memchr(bytes + k, 0xFF, count - k);
            const size_t skip = found == nullptr ? count - k : static_cast<const uint8_t*>(found) - (bytes + k);
            position_ += skip;
            k += skip;
            if (position_ - intervalStart_ > SpacingLimit())
                return ScanStep::Refuted;
            if (k == count)
                break;
        }
        if (!Step(bytes[k++], confirmed))
            return ScanStep::Refuted;
    }
    if (phase_ == Phase::Ended)
        return ScanStep::Ends;
    if (position_ >= length_)
        return ScanStep::Refuted; // the file's length passed without its end
    return confirmed ? ScanStep::Confirmed : ScanStep::Continues;
}

bool JpegScanWalk::Step(uint8_t byte, bool& confirmed) {
    ++position_;
    switch (phase_) {
    case Phase::MarkerStart:
        if (byte != 0xFF)
            return false;
        phase_ = Phase::MarkerCode;
        return true;
    case Phase::MarkerCode:
        return byte == 0xFF || MarkerCode(byte);
    case Phase::LengthHigh:
        segmentLeft_ = uint32_t{byte} << 8;
        phase_ = Phase::LengthLow;
        return true;
    case Phase::LengthLow:
        segmentLeft_ |= byte;
        if (segmentLeft_ < 2)
            return false;
        segmentLeft_ -= 2;
        headBytes_ = 0;
        phase_ = Phase::Segment;
        return segmentLeft_ > 0 || SegmentEnd();
    case Phase::Entropy:
        phase_ = Phase::EntropyFF; // the walk hands over only at a 0xFF
        return true;
    case Phase::EntropyFF:
        if (byte == 0x00) {
            phase_ = Phase::Entropy;
            return true;
        }
        if (byte == 0xFF)
            return true;
        if (IsRestart(byte)) {
            confirmed = true;
            return Restart(byte);
        }
        return byte == kEndOfImage && EndOfImage();
    case Phase::Segment:
    case Phase::Ended:
        break;
    }
    return false;
}

bool JpegScanWalk::MarkerCode(uint8_t code) {
    if (!sawImageStart_) {
        sawImageStart_ = code == 0xD8 && position_ == 2;
        phase_ = Phase::MarkerStart;
        return sawImageStart_;
    }
    if (code == kEndOfImage)
        return scans_ > 0 && EndOfImage();
    if (!HasLength(code))
        return false;
    code_ = code;
    phase_ = Phase::LengthHigh;
    return true;
}

bool JpegScanWalk::SegmentEnd() {
    phase_ = Phase::MarkerStart;
    const uint32_t have = std::min<uint32_t>(headBytes_, sizeof head_);
    if (IsFrame(code_) && have >= 6) {
        const uint64_t height = uint64_t{head_[1]} << 8 | head_[2];
        const uint64_t width = uint64_t{head_[3]} << 8 | head_[4];
        frameComponents_ = head_[5];
        uint64_t h = 1, v = 1;
        for (uint32_t c = 0; c < frameComponents_ && 6 + 3 * c + 1 < have; ++c) {
            h = std::max<uint64_t>(h, head_[6 + 3 * c + 1] >> 4);
            v = std::max<uint64_t>(v, head_[6 + 3 * c + 1] & 0x0F);
        }
        if (frameComponents_ == 1)
            h = v = 1;
        frameUnits_ = IsSequentialFrame(code_) ? Units(width, 8 * h) * Units(height, 8 * v) : 0;
    } else if (code_ == kRestartInterval && have >= 2) {
        restartInterval_ = uint32_t{head_[0]} << 8 | head_[1];
    } else if (code_ == kStartOfScan) {
        if (have < 1 || ++scans_ > 1)
            return false; // pictures of more scans are not followed
        if (head_[0] != frameComponents_)
            frameUnits_ = 0;
        phase_ = Phase::Entropy;
        intervalStart_ = position_;
    }
    return true;
}

bool JpegScanWalk::Restart(uint8_t code) {
    if (restartInterval_ == 0 || code != kFirstRestart + nextRestart_)
        return false;
    widestInterval_ = std::max(widestInterval_, position_ - 2 - intervalStart_);
    intervalStart_ = position_;
    nextRestart_ = static_cast<uint8_t>((nextRestart_ + 1) % 8);
    ++restarts_;
    phase_ = Phase::Entropy;
    return true;
}

bool JpegScanWalk::EndOfImage() {
    if (position_ != length_)
        return false;
    if (restartInterval_ != 0 && frameUnits_ != 0 && restarts_ + 1 != Units(frameUnits_, restartInterval_))
        return false;
    phase_ = Phase::Ended;
    return true;
}

bool LooksLikePictureData(const uint8_t* bytes, size_t count) {
    if (count >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return true;
    // One stuffed byte or marker in a cluster happens in any data.
    int coded = 0;
    int restart = -1;
    for (size_t k = 0; k + 1 < count; ++k) {
        if (bytes[k] != 0xFF)
            continue;
        const uint8_t next = bytes[++k];
        if (next == kEndOfImage)
            return coded >= 1;
        if (IsRestart(next)) {
            if (restart >= 0 && next != kFirstRestart + (restart + 1) % 8)
                return false;
            restart = next - kFirstRestart;
        } else if (next != 0x00) {
            return false;
        }
        ++coded;
    }
    return coded >= 2;
}

uint64_t JpegScanWalk::SpacingLimit() const {
    if (spacing_ == Spacing::Free || restartInterval_ == 0 || restarts_ < kIntervalsBeforeSpacing)
        return UINT64_MAX;
    return 3 * widestInterval_ + 64;
}

} // namespace Kalvory
