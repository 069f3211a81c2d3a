// The length of an Exif JPEG by its marker walk, the place of its Exif
// thumbnail, a clip thumbnail's shape and length, and the strict walk a cluster trail feeds piece by piece: fed
// whole or in pieces, it must come to the same verdict.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "AAA_Stream.h"
#include "Picture_ClipThumbnail.h"
#include "Picture_ExifThumbnail.h"
#include "Picture_Files.h"
#include "Picture_ScanWalk.h"

namespace {

Kalvory::ScanStep InPieces(const uint8_t* data, size_t size, size_t piece) {
    Kalvory::JpegScanWalk walk(size, Kalvory::Spacing::Checked);
    Kalvory::ScanStep step = Kalvory::ScanStep::Continues;
    for (size_t at = 0; at < size && step != Kalvory::ScanStep::Refuted; at += piece) {
        const size_t take = std::min(piece, size - at);
        step = walk.Feed(data + at, take);
        Kalvory::LooksLikePictureData(data + at, take);
    }
    return step;
}

bool Passes(Kalvory::ScanStep step) { return step != Kalvory::ScanStep::Refuted; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AAA::MemoryStream stream(data, size);
    Kalvory::CheckAsJpeg(stream, 0);
    // A thumbnail carved by its length has a thumbnail's shape and lies in the data.
    if (const uint64_t length = Kalvory::ThumbnailJpegLength(stream, 0);
        length > size || (length != 0 && !Kalvory::HasThumbnailShape(stream, 0)))
        __builtin_trap();
    if (const auto thumbnail = Kalvory::FindExifThumbnail(data, size); thumbnail && thumbnail->End() > size)
        __builtin_trap();
    if (size > 0) {
        const Kalvory::ScanStep whole = InPieces(data, size, size);
        const Kalvory::ScanStep pieces = InPieces(data, size, 1 + data[0] % 61);
        const bool ends = whole == Kalvory::ScanStep::Ends;
        if (Passes(whole) != Passes(pieces) || ends != (pieces == Kalvory::ScanStep::Ends))
            __builtin_trap();
    }
    return 0;
}
