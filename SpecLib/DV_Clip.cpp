#include "DV_Clip.h"

#include <array>
#include <cstring>

#include "AAA_Exceptions.h"
#include "DV_Words.h"
#include "ExtentFit.h"

namespace Kalvory {
namespace {

constexpr const char* kSourceFile = "SpecLib/DV_Clip";

constexpr DvSystemConstants kNtsc{u"NTSC", 10, 120000, 0x1F000, 8000};
constexpr DvSystemConstants kPal{u"PAL", 12, 144000, 0x25400, 7000};

constexpr uint32_t kHeaderRead = 256;
// The size word of the chunk after "strf" must lie in the first read.
constexpr uint32_t kLargestStreamFormat = 76;

struct Expected {
    uint32_t at;
    const char* fourcc;
};
constexpr Expected kHeaderMarks[] = {{0, "RIFF"},  {8, "AVI "},   {12, "LIST"}, {20, "hdrl"},
                                     {24, "avih"}, {96, "strl"}, {100, "strh"}, {108, "vids"}};

bool ReadAt(AAA::Stream& stream, uint64_t at, uint8_t* bytes, uint32_t count) {
    stream.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
    return stream.Read(bytes, count) == count;
}

} // namespace

uint32_t DvSystemOf(uint32_t scale, uint32_t rate) {
    if (scale == 1001 && rate == 30000)
        return 1;
    if (scale == 1 && rate == 25)
        return 2;
    return 0;
}

const DvSystemConstants& DvConstants(uint32_t system) {
    if (system == 1)
        return kNtsc;
    if (system == 2)
        return kPal;
    AAA::ThrowLogged<AAA::InvalidDataException>(kSourceFile, __LINE__, "AAA::InvalidDataException()");
}

bool ParseDvHeader(DvClip& clip, AAA::Stream& stream, uint64_t start) {
    std::array<uint8_t, kHeaderRead> header{};
    if (!ReadAt(stream, start, header.data(), kHeaderRead))
        return false;
    for (const Expected& mark : kHeaderMarks)
        if (std::memcmp(header.data() + mark.at, mark.fourcc, 4) != 0)
            return false;
    clip.width = LittleEndian32(header.data() + 64);
    clip.height = LittleEndian32(header.data() + 68);
    clip.scale = LittleEndian32(header.data() + 128);
    clip.rate = LittleEndian32(header.data() + 132);
    const uint32_t formatBytes = LittleEndian32(header.data() + 168);
    if (formatBytes > kLargestStreamFormat)
        return false;
    // Past "strf", one more chunk of the video list, then the audio list.
    uint64_t at = 180 + uint64_t{formatBytes} + LittleEndian32(header.data() + 176 + formatBytes);
    uint8_t skipped[8];
    if (!ReadAt(stream, start + at, skipped, sizeof skipped))
        return false;
    at += uint64_t{LittleEndian32(skipped + 4)} + 8;
    uint8_t odml[24];
    if (!ReadAt(stream, start + at, odml, sizeof odml) || std::memcmp(odml + 8, "odml", 4) != 0 ||
        std::memcmp(odml + 12, "dmlh", 4) != 0)
        return false;
    clip.dwTotalFrames = LittleEndian32(odml + 20);
    return true;
}

uint64_t TotalLength(const DvExtentList& extents) {
    uint64_t total = 0;
    for (const DvExtent& extent : extents)
        total += extent.length;
    return total;
}

void FitExtentsTo(DvExtentList& extents, uint64_t wanted) {
    FSAccessLib::FitExtentsTo(extents, wanted, TotalLength(extents));
}

} // namespace Kalvory
