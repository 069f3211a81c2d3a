#pragma once
// Lays out SD-Video DV clips as a camcorder writes them to a card: a BMP
// icon unit, then the AVI (RIFF "AVI " with hdrl/strl/strh/strf and an
// OpenDML dmlh frame count, "RIFF AVIX" segments of 8000 NTSC or 7000 PAL
// frames, each frame "00dc" DIF data, "JUNK", "01wb" audio, "JUNK" padding to
// the stride) whose 64 KiB units are interleaved with gaps holding the two
// PCM channel files (half each) and possibly the clip XML, then the last PCM
// units and the closing XML. Plain standard C++.
//
//   DvClipLayout clip = WriteDvClip({.system = DvVideoSystem::Pal, .frames = 70,
//                                    .gaps = {{DvGapPlace::Audio, 3}}});
//   PutDvClip(image, offset, clip);          // into a card image
//   clip.avi;                                // where the AVI's bytes went
//   clip.aviFile;                            // the AVI as a file
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace TestSupport {

enum class DvVideoSystem { Ntsc, Pal };

// The first "JUNK"'s size in frames no gap needed resized.
constexpr uint32_t kDvUsualJunk = 16;

// Where in a frame the unit boundary lies at which a gap begins.
enum class DvGapPlace {
    FrameStart,      // "00dc" begins a unit
    DifSequence,     // inside a DIF sequence, not the frame's last
    LastDifSequence, // inside the frame's last DIF sequence
    FirstJunk,       // inside the first "JUNK"'s data
    AudioChunk,      // "01wb" begins a unit
    AudioSize,       // the "01wb" size word begins a unit
    Audio,           // inside the audio data
    SecondJunk,      // the second "JUNK" begins a unit
    SecondJunkSize,  // its size word begins a unit
    SecondJunkData,  // inside its data
};
enum class DvXmlInGap { None, First, Last };

struct DvGap {
    DvGapPlace place = DvGapPlace::FrameStart;
    uint32_t units = 1;
    DvXmlInGap xml = DvXmlInGap::None;
    uint32_t fromFrame = 0; // the first frame at or after this one (and after the previous gap's) where the place can be
};

struct DvClipOptions {
    DvVideoSystem system = DvVideoSystem::Ntsc;
    uint32_t frames = 30;
    uint32_t audioRate = 48000; // 16-bit stereo
    std::vector<DvGap> gaps{};
    bool pcmUnits = true;   // false: the PCM files are not interleaved with the AVI at all
    uint32_t pcmFlushUnits = 0; // besides `gaps`: a gap of this many units wherever that much audio waits
    bool closingXml = true; // the XML unit after the last PCM units
    bool payload = true;    // false: only chunk heads and DIF headers are written (long clips)
    uint32_t scale = 0;     // "strh" dwScale/dwRate; 0: the system's own
    uint32_t rate = 0;
    uint32_t frameCountField = 0; // "dmlh" dwTotalFrames to write instead of `frames` (0: frames)
    uint8_t seed = 0; // varies the content between clips
};

// A file's bytes on the card: runs relative to the layout's start.
struct DvRun {
    uint64_t offset = 0;
    uint64_t length = 0;
    bool operator==(const DvRun&) const = default;
};
using DvRuns = std::vector<DvRun>;

struct DvClipLayout {
    std::vector<std::pair<uint64_t, std::string>> pieces; // bytes at offsets from the layout's start, ordered
    uint64_t span = 0;                                    // the layout's length in whole units
    uint64_t aviOffset = 0;                               // where the "RIFF" stands
    DvRuns avi, pcm0, pcm1;
    DvRun xml{}, icon{}; // length 0 when not written
    std::vector<uint64_t> frames;    // where each frame's "00dc" stands
    std::vector<uint32_t> gapFrames; // the frame each gap went into
    uint32_t pcmDataSize = 0;        // every "01wb" chunk's size
    // The files as written (payload only; the PCM files are the channels).
    std::string aviFile, pcm0File, pcm1File, xmlFile, iconFile;
};

// Throws std::logic_error when a gap's place is in none of the frames left.
DvClipLayout WriteDvClip(const DvClipOptions& options);

// Writes the layout into an existing image file at `base`.
void PutDvClip(const std::filesystem::path& image, uint64_t base, const DvClipLayout& layout);

// The files a recovery saves for the clip named `base` (001XX00, ...), by
// path under the destination: the camcorder's folders, the PCM files with
// their held tail.
std::map<std::string, std::string> DvClipSavedFiles(const DvClipLayout& layout, const std::string& base);

} // namespace TestSupport
