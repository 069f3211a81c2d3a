#pragma once
// The bytes of a camcorder's DV AVI that need no clip layout: little-endian
// words, RIFF chunks and lists, the "hdrl" header list, and the sample, XML and
// icon contents the clip writer fills its files with.
#include <cstddef>
#include <cstdint>
#include <string>

namespace TestSupport::DvRiff {

constexpr uint32_t kWidth = 720;

std::string Le32(uint32_t value);
void Put32(std::string& bytes, size_t at, uint32_t value);
void Put16(std::string& bytes, size_t at, uint16_t value);
std::string Chunk(const char* id, const std::string& data);
std::string List(const char* type, const std::string& content);

// A sample of one channel; nothing periodic, so every unit differs.
int16_t Sample(uint64_t n, int channel, uint8_t seed);
std::string XmlText(uint8_t seed);
std::string IconBytes(uint8_t seed);

// What the "hdrl" list states: the system's frame timing and sizes, the
// stream headers' own scale and rate, the audio, and the OpenDML frame count.
struct AviHeaderValues {
    uint32_t scale;
    uint32_t rate;
    uint32_t stride;
    uint32_t suggestedFrames;
    uint32_t videoBytes;
    uint32_t height;
    uint32_t frames;
    uint32_t streamScale;
    uint32_t streamRate;
    uint32_t audioRate;
    uint32_t audioSamples;
    uint32_t frameCountField;
};
// "hdrl": "avih", a video and an audio "strl" each with room for an OpenDML
// index, and "odml" with its "dmlh" frame count.
std::string AviHeaderList(const AviHeaderValues& values);

} // namespace TestSupport::DvRiff
