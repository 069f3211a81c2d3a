#include "ISOBMFF_Boxes.h"

#include <algorithm>
#include <cstring>

namespace Kalvory {
namespace {

// Major brands of camcorders, cameras and phones.
constexpr uint32_t kCameraBrands[] = {
    BoxType("XAVC"), BoxType("mp41"), BoxType("mp42"), BoxType("isom"), BoxType("qt  "), BoxType("CAEP"),
    BoxType("avc1"), BoxType("iso2"), BoxType("iso3"), BoxType("iso4"), BoxType("iso5"), BoxType("iso6"),
    BoxType("MSNV"), BoxType("3gp4"), BoxType("3gp5"), BoxType("3gp6"), BoxType("3g2a"), BoxType("niko"),
    BoxType("M4V "), BoxType("mp71"), BoxType("hvc1"), BoxType("heic"),
};

constexpr uint32_t kTopLevelTypes[] = {
    BoxType("mdat"), BoxType("moov"), BoxType("free"), BoxType("skip"), BoxType("wide"), BoxType("uuid"),
    BoxType("meta"), BoxType("pdin"), BoxType("moof"), BoxType("mfra"), BoxType("udta"), BoxType("sidx"),
    BoxType("styp"), BoxType("pnot"),
};

// An ftyp box is short: its brands and nothing else.
constexpr uint64_t kLongestFtyp = 1024;
// A walk of more boxes than a camera writes is no camera file.
constexpr int kMostTopLevelBoxes = 4096;

} // namespace

uint32_t Be32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

uint64_t Be64(const uint8_t* bytes) { return uint64_t{Be32(bytes)} << 32 | Be32(bytes + 4); }

bool ParseBoxHeader(const uint8_t* bytes, size_t available, BoxHeader& header) {
    if (available < 8)
        return false;
    header.type = Be32(bytes + 4);
    const uint32_t size = Be32(bytes);
    if (size == 1) {
        if (available < 16)
            return false;
        header.size = Be64(bytes + 8);
        header.headerBytes = 16;
    } else {
        header.size = size;
        header.headerBytes = 8;
    }
    return header.size >= header.headerBytes;
}

bool ReadBoxHeader(AAA::Stream& stream, uint64_t at, BoxHeader& header) {
    uint8_t bytes[16] = {};
    stream.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
    const uint32_t got = stream.Read(bytes, sizeof bytes);
    return ParseBoxHeader(bytes, got, header);
}

uint32_t MajorBrand(const uint8_t* sector, size_t available) {
    if (available < 16 || sector[4] != 'f' || sector[5] != 't' || sector[6] != 'y' || sector[7] != 'p')
        return 0;
    const uint32_t size = Be32(sector);
    if (size < 16 || size > kLongestFtyp || size % 4 != 0)
        return 0;
    return Be32(sector + 8);
}

bool IsIsoMediaStart(const uint8_t* sector, size_t available) {
    // The first look of every sector the scan tests: one byte decides most.
    if (available < 16 || sector[4] != 'f')
        return false;
    const uint32_t brand = MajorBrand(sector, available);
    return brand != 0 && std::find(std::begin(kCameraBrands), std::end(kCameraBrands), brand) != std::end(kCameraBrands);
}

bool IsTopLevelType(uint32_t type) {
    return std::find(std::begin(kTopLevelTypes), std::end(kTopLevelTypes), type) != std::end(kTopLevelTypes);
}

TopLevelWalk WalkTopLevelBoxes(AAA::Stream& stream, uint64_t start, uint64_t limit) {
    TopLevelWalk walk;
    BoxHeader header;
    if (!ReadBoxHeader(stream, start, header) || header.type != BoxType("ftyp") || header.size > kLongestFtyp ||
        header.size > limit)
        return walk;
    walk.end = header.size;
    for (int boxes = 1; boxes < kMostTopLevelBoxes && walk.end < limit; ++boxes) {
        if (!ReadBoxHeader(stream, start + walk.end, header) || !IsTopLevelType(header.type)) {
            walk.foreign = true;
            return walk;
        }
        if (header.type == BoxType("mdat")) {
            walk.mdatAt = walk.end;
            walk.mdatSize = header.size;
            walk.mdatHeaderBytes = header.headerBytes;
        }
        if (header.size > limit - walk.end) {
            walk.foreign = true;
            return walk;
        }
        if (header.type == BoxType("moov") && walk.moovAt == 0) {
            walk.moovAt = walk.end;
            walk.moovSize = header.size;
        }
        walk.end += header.size;
    }
    return walk;
}

uint64_t IsoMediaLength(AAA::Stream& stream, uint64_t start) {
    constexpr uint64_t kNoLimit = uint64_t{1} << 44;
    const TopLevelWalk walk = WalkTopLevelBoxes(stream, start, kNoLimit);
    if (walk.moovAt != 0)
        return walk.end;
    // The mdat's header is the last thing the file's first cluster vouches for.
    if (walk.foreign && walk.mdatAt != 0)
        return walk.mdatAt + walk.mdatHeaderBytes;
    return 0;
}

} // namespace Kalvory
