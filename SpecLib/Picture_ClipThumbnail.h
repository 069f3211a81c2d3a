#pragma once
// The small picture a camera writes with each clip it records (a Sony
// camcorder's THMBNL/C0001T01.JPG, an action camera's GX010001.THM): a JPEG
// of at most 640x480 that names no camera maker. A DCF still is an Exif file
// naming the camera that took it, so no still is taken for a thumbnail.
#include <cstdint>

#include "AAA_Stream.h"

namespace Kalvory {

constexpr uint32_t kWidestThumbnail = 640;
constexpr uint32_t kTallestThumbnail = 480;
constexpr uint64_t kLongestThumbnail = 1u << 20;

// Whether the JPEG at `start` has a thumbnail's shape: its segments reach the
// start of scan through a frame of at most 640x480, and no Exif segment
// among them names a maker.
bool HasThumbnailShape(AAA::Stream& stream, uint64_t start);

// The length of a thumbnail without an Exif segment at `start`, through its
// end-of-image marker (1 MiB at most): the pictures the Exif row leaves.
// 0 when there is none.
uint64_t ThumbnailJpegLength(AAA::Stream& stream, uint64_t start);

} // namespace Kalvory
