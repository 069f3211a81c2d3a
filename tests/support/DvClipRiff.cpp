#include "DvClipRiff.h"

#include <algorithm>

namespace TestSupport::DvRiff {

std::string Le32(uint32_t value) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>(value >> (8 * i));
    return bytes;
}

void Put32(std::string& bytes, size_t at, uint32_t value) { bytes.replace(at, 4, Le32(value)); }
void Put16(std::string& bytes, size_t at, uint16_t value) { bytes.replace(at, 2, Le32(value).substr(0, 2)); }

std::string Chunk(const char* id, const std::string& data) {
    return std::string(id, 4) + Le32(static_cast<uint32_t>(data.size())) + data;
}
std::string List(const char* type, const std::string& content) {
    return "LIST" + Le32(static_cast<uint32_t>(content.size() + 4)) + std::string(type, 4) + content;
}

int16_t Sample(uint64_t n, int channel, uint8_t seed) {
    const uint64_t x = (n + 1) * 2654435761u + static_cast<uint64_t>(channel) * 40503u + seed * 977u;
    return static_cast<int16_t>(x >> 9);
}

std::string XmlText(uint8_t seed) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n"
           "<Q7Main xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns=\"urn:schemas-Vantoria:SD:ClipMetadata:v1.0\">\n"
           "  <Clip number=\"" + std::to_string(seed) + "\" />\n"
           "</Q7Main>\n";
}

std::string IconBytes(uint8_t seed) {
    std::string bmp(54 + 32 * 24 * 3, static_cast<char>(0x40 + seed));
    bmp.replace(0, 2, "BM");
    Put32(bmp, 2, static_cast<uint32_t>(bmp.size()));
    Put32(bmp, 6, 0);
    Put32(bmp, 10, 54);
    Put32(bmp, 14, 40);
    Put32(bmp, 18, 32);
    Put32(bmp, 22, 24);
    Put16(bmp, 26, 1);
    Put16(bmp, 28, 24);
    Put32(bmp, 30, 0);
    Put32(bmp, 34, 32 * 24 * 3);
    for (size_t at = 38; at < 54; ++at)
        bmp[at] = 0;
    return bmp;
}

std::string AviHeaderList(const AviHeaderValues& v) {
    std::string avih(56, '\0');
    Put32(avih, 0, static_cast<uint32_t>(1000000ull * v.scale / v.rate));
    Put32(avih, 4, static_cast<uint32_t>(uint64_t{v.stride} * v.rate / v.scale));
    Put32(avih, 12, 0x100); // interleaved
    Put32(avih, 16, v.suggestedFrames);
    Put32(avih, 24, 2);
    Put32(avih, 28, v.stride);
    Put32(avih, 32, kWidth);
    Put32(avih, 36, v.height);
    std::string videoHeader(56, '\0');
    videoHeader.replace(0, 8, "vidsdvsd");
    Put32(videoHeader, 20, v.streamScale);
    Put32(videoHeader, 24, v.streamRate);
    Put32(videoHeader, 32, v.frames);
    Put32(videoHeader, 36, v.videoBytes);
    Put16(videoHeader, 52, kWidth);
    Put16(videoHeader, 54, static_cast<uint16_t>(v.height));
    std::string videoFormat(40, '\0');
    Put32(videoFormat, 0, 40);
    Put32(videoFormat, 4, kWidth);
    Put32(videoFormat, 8, v.height);
    Put16(videoFormat, 12, 1);
    Put16(videoFormat, 14, 24);
    videoFormat.replace(16, 4, "dvsd");
    Put32(videoFormat, 20, v.videoBytes);
    std::string audioHeader(56, '\0');
    audioHeader.replace(0, 4, "auds");
    Put32(audioHeader, 20, 1);
    Put32(audioHeader, 24, v.audioRate);
    Put32(audioHeader, 32, v.audioSamples);
    Put32(audioHeader, 44, 4);
    std::string audioFormat(18, '\0');
    Put16(audioFormat, 0, 1); // PCM
    Put16(audioFormat, 2, 2);
    Put32(audioFormat, 4, v.audioRate);
    Put32(audioFormat, 8, v.audioRate * 4);
    Put16(audioFormat, 12, 4);
    Put16(audioFormat, 14, 16);
    // The "JUNK" after each "strf" keeps room for an OpenDML index.
    return List("hdrl", Chunk("avih", avih) +
                   List("strl", Chunk("strh", videoHeader) + Chunk("strf", videoFormat) +
                                    Chunk("JUNK", std::string(120, '\0'))) +
                   List("strl", Chunk("strh", audioHeader) + Chunk("strf", audioFormat) +
                                    Chunk("JUNK", std::string(120, '\0'))) +
                   List("odml", Chunk("dmlh", Le32(v.frameCountField) +
                                               std::string(244, '\0'))));
}

} // namespace TestSupport::DvRiff
