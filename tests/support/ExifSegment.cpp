#include "support/ExifSegment.h"

#include <cstdint>

namespace TestSupport {
namespace {

class TiffWriter {
public:
    explicit TiffWriter(TiffOrder order) : order_(order) {
        bytes.reserve(64); // GCC 12 takes the short-string buffer for uninitialised otherwise
        bytes.append(order == TiffOrder::Little ? "II" : "MM");
    }
    void Word(uint16_t value) {
        const char low = static_cast<char>(value & 0xFF), high = static_cast<char>(value >> 8);
        bytes.push_back(order_ == TiffOrder::Little ? low : high);
        bytes.push_back(order_ == TiffOrder::Little ? high : low);
    }
    void Long(uint32_t value) {
        Word(static_cast<uint16_t>(order_ == TiffOrder::Little ? value & 0xFFFF : value >> 16));
        Word(static_cast<uint16_t>(order_ == TiffOrder::Little ? value >> 16 : value & 0xFFFF));
    }
    void LongEntry(uint16_t tag, uint32_t value) {
        Word(tag);
        Word(4); // LONG
        Long(1);
        Long(value);
    }
    std::string bytes;

private:
    TiffOrder order_;
};

} // namespace

std::string ExifSegment(const std::string& thumbnail, TiffOrder order) {
    TiffWriter tiff(order);
    tiff.Word(42);
    tiff.Long(8);  // IFD0
    tiff.Word(0);  // no entries
    tiff.Long(14); // IFD1
    tiff.Word(2);
    const uint32_t thumbnailAt = 14 + 2 + 2 * 12 + 4;
    tiff.LongEntry(0x0201, thumbnailAt);
    tiff.LongEntry(0x0202, static_cast<uint32_t>(thumbnail.size()));
    tiff.Long(0);
    const std::string payload = std::string("Exif\0\0", 6) + tiff.bytes + thumbnail;
    const size_t length = payload.size() + 2;
    return std::string("\xFF\xE1", 2) + static_cast<char>(length >> 8) + static_cast<char>(length & 0xFF) + payload;
}

std::string WithExifThumbnail(const std::string& jpeg, const std::string& thumbnail, TiffOrder order) {
    return jpeg.substr(0, 2) + ExifSegment(thumbnail, order) + jpeg.substr(2);
}

} // namespace TestSupport
