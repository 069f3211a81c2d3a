#include "Picture_ExifThumbnail.h"

#include <cstring>

namespace Kalvory {
namespace {

constexpr uint16_t kThumbnailOffsetTag = 0x0201;
constexpr uint16_t kThumbnailLengthTag = 0x0202;
constexpr size_t kIfdEntryBytes = 12;

// The TIFF structure inside the APP1 payload, in its own byte order; every
// read is checked against the payload's end.
class Tiff {
public:
    Tiff(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    bool ReadHeader() {
        if (size_ < 8)
            return false;
        if (std::memcmp(bytes_, "II", 2) == 0)
            little_ = true;
        else if (std::memcmp(bytes_, "MM", 2) != 0)
            return false;
        return Word(2) == 42;
    }
    uint16_t Word(uint64_t at) const {
        if (at + 2 > size_)
            return 0;
        return little_ ? static_cast<uint16_t>(bytes_[at] | bytes_[at + 1] << 8)
                       : static_cast<uint16_t>(bytes_[at] << 8 | bytes_[at + 1]);
    }
    uint32_t Long(uint64_t at) const {
        if (at + 4 > size_)
            return 0;
        const uint32_t high = little_ ? Word(at + 2) : Word(at);
        const uint32_t low = little_ ? Word(at) : Word(at + 2);
        return high << 16 | low;
    }
    // The offset of the IFD after the one at `ifd`; 0 when none or out of bounds.
    uint32_t NextIfd(uint32_t ifd) const {
        const uint64_t count = Word(ifd);
        const uint64_t link = uint64_t{ifd} + 2 + count * kIfdEntryBytes;
        return ifd == 0 || link + 4 > size_ ? 0 : Long(link);
    }
    // The value of a one-long entry `tag` of the IFD at `ifd`.
    std::optional<uint32_t> Value(uint32_t ifd, uint16_t tag) const {
        const uint64_t count = Word(ifd);
        for (uint64_t k = 0; k < count; ++k) {
            const uint64_t entry = uint64_t{ifd} + 2 + k * kIfdEntryBytes;
            if (entry + kIfdEntryBytes > size_)
                return std::nullopt;
            if (Word(entry) == tag)
                return Long(entry + 8);
        }
        return std::nullopt;
    }
    size_t Size() const { return size_; }

private:
    const uint8_t* bytes_;
    size_t size_;
    bool little_ = false;
};

std::optional<AAA::ByteRange> ThumbnailInApp1(const uint8_t* head, size_t tiffStart, size_t tiffSize) {
    Tiff tiff(head + tiffStart, tiffSize);
    if (!tiff.ReadHeader())
        return std::nullopt;
    const uint32_t ifd1 = tiff.NextIfd(tiff.Long(4));
    if (ifd1 == 0 || ifd1 >= tiff.Size())
        return std::nullopt;
    const std::optional<uint32_t> offset = tiff.Value(ifd1, kThumbnailOffsetTag);
    const std::optional<uint32_t> length = tiff.Value(ifd1, kThumbnailLengthTag);
    if (!offset || !length || *length < 4 || uint64_t{*offset} + *length > tiff.Size())
        return std::nullopt;
    const uint8_t* thumbnail = head + tiffStart + *offset;
    if (thumbnail[0] != 0xFF || thumbnail[1] != 0xD8)
        return std::nullopt;
    return AAA::ByteRange{tiffStart + *offset, *length};
}

} // namespace

std::optional<AAA::ByteRange> FindExifThumbnail(const uint8_t* head, size_t size) {
    if (size < 4 || head[0] != 0xFF || head[1] != 0xD8)
        return std::nullopt;
    // The Exif segment comes among the application segments before the picture data.
    size_t at = 2;
    while (at + 4 <= size && head[at] == 0xFF) {
        const uint8_t marker = head[at + 1];
        const size_t length = static_cast<size_t>(head[at + 2] << 8 | head[at + 3]);
        if (marker == 0xDA || marker == 0xD9 || length < 2)
            return std::nullopt;
        const size_t end = at + 2 + length;
        if (marker == 0xE1 && length >= 8 && end <= size && std::memcmp(head + at + 4, "Exif\0\0", 6) == 0)
            return ThumbnailInApp1(head, at + 10, end - (at + 10));
        at = end;
    }
    return std::nullopt;
}

} // namespace Kalvory
