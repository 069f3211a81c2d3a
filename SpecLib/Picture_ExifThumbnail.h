#pragma once
// The thumbnail a camera stores inside a still's Exif segment (IFD1's
// JPEGInterchangeFormat): a preview from the first 64 KiB of the file,
// without reading or decoding the picture itself.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "AAA_ByteRanges.h"

namespace Kalvory {

// The APP1 segment, where the thumbnail lives, ends within this many bytes.
constexpr size_t kExifHeadBytes = 4 + 0x10000;

// Where the thumbnail JPEG lies, by file offset, when `head` (the file's
// first `size` bytes) holds an Exif segment naming one inside itself.
std::optional<AAA::ByteRange> FindExifThumbnail(const uint8_t* head, size_t size);

} // namespace Kalvory
