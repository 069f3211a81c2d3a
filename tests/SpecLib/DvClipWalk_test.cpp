// The DV clip walk over clips laid out as camcorders write them: wherever a
// gap of foreign units lies, the walk gives back where the AVI and each PCM
// file are; damaged or cut clips end the walk with what it gathered.
#include <gtest/gtest.h>

#include "AAA_Exceptions.h"
#include "DV_Clip.h"
#include "DvTestSupport.h"

#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace TestSupport;
using DvTest::Extents;
using DvTest::LayoutStream;
using Kalvory::DvClip;

constexpr uint64_t kBase = 0x7A00000; // where the layout starts on the medium

struct WalkCase {
    const char* name;
    DvClipOptions options;
    bool hasXml = false;
};

std::ostream& operator<<(std::ostream& out, const WalkCase& c) { return out << c.name; }

class DvWalk : public ::testing::TestWithParam<WalkCase> {};

TEST_P(DvWalk, GivesBackEveryFilesExtents) {
    const DvClipLayout layout = WriteDvClip(GetParam().options);
    LayoutStream stream(layout, kBase);
    DvClip clip;
    const uint64_t walked = Kalvory::ParseDvClip(clip, stream, kBase + layout.aviOffset);
    EXPECT_EQ(clip.aviChain, Extents(layout.avi, kBase));
    EXPECT_EQ(clip.pcm0Chain, Extents(layout.pcm0, kBase));
    EXPECT_EQ(clip.pcm1Chain, Extents(layout.pcm1, kBase));
    EXPECT_EQ(clip.pcmDataSize, layout.pcmDataSize);
    EXPECT_EQ(clip.hasXml, GetParam().hasXml);
    // The search goes on at the closing XML, or after the video.
    const uint64_t end = layout.xml.length != 0 && !layout.pcm0.empty() ? layout.xml.offset
                                                                          : layout.avi.back().offset + layout.avi.back().length;
    EXPECT_EQ(walked, end - layout.aviOffset);
    EXPECT_LT(stream.reads, 4 * uint64_t{GetParam().options.frames} + 400) << "a few small reads a frame";
}

using enum DvGapPlace;
const DvVideoSystem kNtsc = DvVideoSystem::Ntsc;
const DvVideoSystem kPal = DvVideoSystem::Pal;

INSTANTIATE_TEST_SUITE_P(
    Layouts, DvWalk,
    ::testing::Values(
        // NTSC frames start on 4 KiB steps: boundaries fall at frame starts,
        // inside DIF sequences or inside the audio.
        WalkCase{"NtscPlaces",
                 {.system = kNtsc,
                  .frames = 120,
                  .gaps = {{FrameStart, 2}, {DifSequence, 3}, {LastDifSequence, 1}, {Audio, 4}, {FrameStart, 1}}}},
        // PAL frames start on 1 KiB steps; the first "JUNK" can move "01wb"
        // or its size word onto a boundary.
        WalkCase{"PalPlaces",
                 {.system = kPal,
                  .frames = 200,
                  .gaps = {{FirstJunk, 2}, {Audio, 1}, {DifSequence, 1}, {LastDifSequence, 2}, {AudioChunk, 1},
                           {AudioSize, 2}, {FrameStart, 1}},
                  .payload = false}},
        WalkCase{"Pal32kHzSecondJunk",
                 {.system = kPal, .frames = 80, .audioRate = 32000,
                  .gaps = {{SecondJunk, 1}, {SecondJunkSize, 1}, {SecondJunkData, 1}}, .payload = false}},
        WalkCase{"SizeWordOfTheLastJunkCut",
                 {.system = kPal, .frames = 61, .audioRate = 32000, .gaps = {{SecondJunkSize, 2, DvXmlInGap::None, 60}},
                  .payload = false}},
        WalkCase{"XmlFirstInGap", {.system = kPal, .frames = 60, .gaps = {{Audio, 3, DvXmlInGap::First}}}, true},
        WalkCase{"XmlLastInGap", {.system = kNtsc, .frames = 60, .gaps = {{Audio, 3, DvXmlInGap::Last}}}, true},
        // The DIF header search never marks the clip; the XML unit still
        // ends the PCM part.
        WalkCase{"XmlInDifGap", {.system = kNtsc, .frames = 60, .gaps = {{DifSequence, 3, DvXmlInGap::Last}}}, false},
        WalkCase{"NineteenUnits", {.system = kNtsc, .frames = 300, .gaps = {{DifSequence, 19}}, .payload = false}},
        WalkCase{"NotInterleaved", {.system = kNtsc, .frames = 20, .pcmUnits = false, .closingXml = false}},
        WalkCase{"TwoNtscSegments",
                 {.system = kNtsc, .frames = 8003, .gaps = {{FrameStart, 1, DvXmlInGap::None, 8000}},
                  .pcmFlushUnits = 6, .payload = false}},
        WalkCase{"TwoPalSegments",
                 {.system = kPal, .frames = 7003, .gaps = {{AudioChunk, 2, DvXmlInGap::None, 6940}},
                  .pcmFlushUnits = 8, .payload = false}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
