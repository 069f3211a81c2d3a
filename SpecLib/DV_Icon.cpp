#include "DV_Icon.h"

namespace Kalvory {

uint64_t BitmapLength(AAA::Stream& stream, uint64_t start) {
    uint8_t header[10];
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    if (stream.Read(header, sizeof header) != sizeof header || header[0] != 'B' || header[1] != 'M')
        return 0;
    const auto le32 = [&](int at) {
        return uint32_t{header[at]} | uint32_t{header[at + 1]} << 8 | uint32_t{header[at + 2]} << 16 |
               uint32_t{header[at + 3]} << 24;
    };
    return le32(6) == 0 ? le32(2) : 0;
}

} // namespace Kalvory
