#pragma once
// AAC in an MP4 chunk: raw frames back to back, with no header that gives
// their sizes (ADTS is not used there). Where one frame ends and the next
// begins is told by both sides: a frame ends with the END element (three 1
// bits) and zero bits to the byte, and begins with the channel element the
// layout has, whose side info (window, bands, sections) must hold together.
// Sound data passes that test now and then; of the splits that pass, the one
// whose frame sizes are likeliest for the camera's encoder is taken: a false
// border leaves a piece of a size the encoder does not make, and two frames
// taken for one make a frame too large.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace Kalvory {

struct AacLayout {
    uint32_t channels = 0;       // 1 or 2
    uint32_t frequencyIndex = 0; // the sampling frequency index
};

// The layout an AudioSpecificConfig gives; none unless AAC LC in mono or stereo.
std::optional<AacLayout> AacLayoutOf(const uint8_t* config, size_t size);

// How likely a frame of each size is, from the sizes of a healthy clip's
// frames (near their mean, as far as they spread, or near one they take
// often); without them, every size
// alike, the split with the most frames wins.
class AacFrameSizes {
public:
    AacFrameSizes() = default;
    explicit AacFrameSizes(const std::vector<uint32_t>& seen);
    // A log-likelihood, above 0 for a frame near the mean.
    double Score(size_t size) const;

private:
    double mean_ = 0, spread_ = 0;
    std::vector<uint32_t> atMost_; // how many sizes seen up to each
};

// Whether a frame of `size` bytes may stand at `bytes`, of which `available`
// are at hand: it begins and ends as a frame does (a frame not wholly at hand
// is not judged). What a clip's sample table says lies there is tested so.
bool MayBeAacFrame(const AacLayout& layout, const uint8_t* bytes, size_t available, size_t size);

// Whether the last of `bytes` may be cut off inside a frame.
enum class ChunkEnd { Whole, MayBeCut };

// The sizes of the frames `bytes` split into, in order; none when they do
// not split (with `MayBeCut`, when no whole frame begins them).
std::optional<std::vector<uint32_t>> SplitAacFrames(const AacLayout& layout, const uint8_t* bytes, size_t size,
                                                    ChunkEnd end, const AacFrameSizes& sizes = {});

} // namespace Kalvory
