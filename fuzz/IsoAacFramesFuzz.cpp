// AAC frames split out of a chunk: the input's first two bytes are the
// AudioSpecificConfig, the third says whether the chunk may be cut, the rest
// is the chunk. What is found must be frames back to back from its start,
// through its end unless it may be cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>

#include "ISOBMFF_AacFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    const std::optional<Kalvory::AacLayout> layout = Kalvory::AacLayoutOf(data, 2);
    if (!layout)
        return 0;
    const Kalvory::ChunkEnd end = data[2] & 1 ? Kalvory::ChunkEnd::MayBeCut : Kalvory::ChunkEnd::Whole;
    // Sizes seen in a clip of the same camera: from the input too, when it asks.
    std::vector<uint32_t> seen;
    for (size_t i = 3; data[2] & 2 && i + 1 < size && seen.size() < 64; i += 2)
        seen.push_back(uint32_t{data[i]} << 2 | data[i + 1] >> 6);
    const Kalvory::AacFrameSizes likely = seen.empty() ? Kalvory::AacFrameSizes() : Kalvory::AacFrameSizes(seen);
    const std::optional<std::vector<uint32_t>> frames = Kalvory::SplitAacFrames(*layout, data + 3, size - 3, end, likely);
    if (!frames)
        return 0;
    const uint64_t total = std::accumulate(frames->begin(), frames->end(), uint64_t{0});
    if (frames->empty() || total > size - 3 || (end == Kalvory::ChunkEnd::Whole && total != size - 3))
        std::abort();
    for (const uint32_t frame : *frames)
        if (frame < 4 || frame > 2048 * layout->channels)
            std::abort();
    return 0;
}
