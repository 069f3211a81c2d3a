#include "Picture_ClipThumbnail.h"

#include <cstring>
#include <optional>
#include <vector>

#include "Picture_Files.h"

namespace Kalvory {
namespace {

// Room for an Exif segment of the largest size before the frame header.
constexpr uint32_t kHeadBytes = 2 * 0x10000 + 4096;
constexpr uint32_t kFirstHeadBytes = 4096;
constexpr uint16_t kMakeTag = 0x010F;

struct JpegShape {
    uint32_t width = 0;
    uint32_t height = 0;
    bool exif = false;
    bool namesMaker = false;
};

uint32_t Be16(const uint8_t* bytes) { return uint32_t{bytes[0]} << 8 | bytes[1]; }

bool IsFrameHeader(uint8_t code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Whether IFD0 of the TIFF structure in `tiff` holds an entry `tag`.
bool Ifd0Holds(const uint8_t* tiff, size_t size, uint16_t tag) {
    if (size < 8 || (std::memcmp(tiff, "II", 2) != 0 && std::memcmp(tiff, "MM", 2) != 0))
        return false;
    const bool little = tiff[0] == 'I';
    const auto word = [&](uint64_t at) {
        return little ? uint32_t{tiff[at]} | uint32_t{tiff[at + 1]} << 8 : Be16(tiff + at);
    };
    const uint64_t ifd0 = little ? word(4) | uint64_t{word(6)} << 16 : uint64_t{word(4)} << 16 | word(6);
    if (ifd0 + 2 > size)
        return false;
    const uint32_t count = word(ifd0);
    for (uint64_t k = 0; k < count && ifd0 + 2 + 12 * (k + 1) <= size; ++k)
        if (word(ifd0 + 2 + 12 * k) == tag)
            return true;
    return false;
}

// The segments from the start-of-image marker to the start of scan; nullopt
// when they are broken, leave the head (`cut` is set), or hold no frame header.
std::optional<JpegShape> ShapeOf(const uint8_t* bytes, size_t size, bool& cut) {
    cut = false;
    if (size < 4 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        return std::nullopt;
    JpegShape shape;
    for (size_t at = 2; at + 4 <= size;) {
        if (bytes[at] != 0xFF)
            return std::nullopt;
        while (at + 4 <= size && bytes[at + 1] == 0xFF) // fill bytes
            ++at;
        if (at + 4 > size)
            break;
        const uint8_t code = bytes[at + 1];
        if (code == 0xDA)
            return shape.width != 0 ? std::optional(shape) : std::nullopt;
        if (!(code >= 0xC0 && code <= 0xFE) || (code >= 0xD0 && code <= 0xD9))
            return std::nullopt;
        const uint32_t length = Be16(bytes + at + 2);
        if (length < 2)
            return std::nullopt;
        if (at + 2 + length > size)
            break;
        const uint8_t* payload = bytes + at + 4;
        const size_t payloadSize = length - 2;
        if (code == 0xE1 && payloadSize >= 6 && std::memcmp(payload, "Exif\0\0", 6) == 0) {
            shape.exif = true;
            shape.namesMaker = shape.namesMaker || Ifd0Holds(payload + 6, payloadSize - 6, kMakeTag);
        }
        if (IsFrameHeader(code) && payloadSize >= 5) {
            shape.height = Be16(payload + 1);
            shape.width = Be16(payload + 3);
        }
        at += 2 + length;
    }
    cut = true;
    return std::nullopt;
}

// The segments of a thumbnail fit in a few KiB; the larger read only follows
// an Exif segment that may be as long as a segment goes.
std::optional<JpegShape> ReadShape(AAA::Stream& stream, uint64_t start) {
    std::vector<uint8_t> head;
    for (const uint32_t bytes : {kFirstHeadBytes, kHeadBytes}) {
        head.resize(bytes);
        stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
        head.resize(stream.Read(head.data(), bytes));
        bool cut = false;
        const std::optional<JpegShape> shape = ShapeOf(head.data(), head.size(), cut);
        if (!cut || head.size() < bytes)
            return shape;
    }
    return std::nullopt;
}

bool ThumbnailSized(const JpegShape& shape) {
    return shape.height != 0 && shape.width <= kWidestThumbnail && shape.height <= kTallestThumbnail && !shape.namesMaker;
}

} // namespace

bool HasThumbnailShape(AAA::Stream& stream, uint64_t start) {
    const std::optional<JpegShape> shape = ReadShape(stream, start);
    return shape && ThumbnailSized(*shape);
}

uint64_t ThumbnailJpegLength(AAA::Stream& stream, uint64_t start) {
    const std::optional<JpegShape> shape = ReadShape(stream, start);
    if (!shape || shape->exif || !ThumbnailSized(*shape))
        return 0;
    const uint64_t length = WalkJpegMarkers(stream, start);
    return length <= kLongestThumbnail ? length : 0;
}

} // namespace Kalvory
