#pragma once
// An Exif APP1 segment holding a thumbnail (IFD0, then IFD1 naming the
// thumbnail's offset and length), put into a JPEG right after its
// start-of-image marker, as cameras write it. Plain standard C++.
#include <string>

namespace TestSupport {

enum class TiffOrder { Little, Big };

// The segment, marker and length included.
std::string ExifSegment(const std::string& thumbnail, TiffOrder order = TiffOrder::Little);
// `jpeg` with the segment inserted after its first two bytes.
std::string WithExifThumbnail(const std::string& jpeg, const std::string& thumbnail,
                              TiffOrder order = TiffOrder::Little);
// Where the thumbnail starts in the file WithExifThumbnail makes.
constexpr size_t kExifThumbnailOffset = 2 + 4 + 6 + 8 + 2 + 4 + 2 + 2 * 12 + 4;

} // namespace TestSupport
