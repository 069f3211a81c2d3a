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

namespace {

constexpr uint32_t kNtscVideo = 120000;

// The "01wb" size word of an undisturbed frame.
uint64_t AudioSizeWord(const DvClipLayout& layout, uint32_t frame) {
    return layout.frames[frame] + 20 + kNtscVideo + kDvUsualJunk;
}

// The audio of the first `frames` NTSC frames at 48 kHz, 16-bit stereo.
uint32_t NtscAudio(uint32_t frames) { return static_cast<uint32_t>(uint64_t{frames} * 48000 * 1001 / 30000) * 4; }

struct Damage {
    const char* name;
    DvClipOptions options;
    uint32_t keptFrames;
    void (*apply)(DvClipLayout& layout, uint64_t& mediumEnd);
};

std::ostream& operator<<(std::ostream& out, const Damage& d) { return out << d.name; }

class DvWalkDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(DvWalkDamage, EndsTheWalkWithTheWholeFramesMet) {
    DvClipLayout layout = WriteDvClip(GetParam().options);
    uint64_t mediumEnd = layout.span;
    if (GetParam().apply)
        GetParam().apply(layout, mediumEnd);
    LayoutStream stream(layout, kBase, kBase + mediumEnd);
    DvClip clip;
    Kalvory::ParseDvClip(clip, stream, kBase + layout.aviOffset);
    const uint32_t kept = GetParam().keptFrames;
    const Kalvory::DvExtentList avi = {{kBase + layout.aviOffset, layout.frames[kept] - layout.aviOffset}};
    EXPECT_EQ(clip.aviChain, avi);
    EXPECT_EQ(clip.pcmDataSize, NtscAudio(kept));
    EXPECT_TRUE(clip.pcm0Chain.empty());
}

const DvClipOptions kPlain{.system = kNtsc, .frames = 30, .pcmUnits = false, .closingXml = false, .payload = false};

INSTANTIATE_TEST_SUITE_P(
    Faults, DvWalkDamage,
    ::testing::Values(
        Damage{"MediumEndsInsideAFrame", kPlain, 20, [](DvClipLayout& l, uint64_t& end) { end = l.frames[20] + 5000; }},
        Damage{"AudioSizePastTheMedium", kPlain, 29,
               [](DvClipLayout& l, uint64_t&) { DvTest::Overwrite(l, AudioSizeWord(l, 29), DvTest::Le32(0x7FFFFFF0)); }},
        // The next frame would stand before this one.
        Damage{"AudioLargerThanTheFrame", kPlain, 12,
               [](DvClipLayout& l, uint64_t&) {
                   DvTest::Overwrite(l, l.frames[13], "00dX");
                   DvTest::Overwrite(l, AudioSizeWord(l, 12), DvTest::Le32(0x10000));
                   DvTest::Overwrite(l, AudioSizeWord(l, 12) + 4 + 0x10000, "JUNK");
               }},
        Damage{"MarkerMissingFor20Units",
               {.system = kNtsc, .frames = 30, .gaps = {{DifSequence, 20, DvXmlInGap::None, 10}}, .closingXml = false,
                .payload = false},
               10, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// A PAL clip of undisturbed frames whose chunk heads are computed where they
// are read: long enough for its audio to pass 4 GiB. Offsets from the RIFF.
class LongPalClip : public AAA::Stream {
public:
    static constexpr uint32_t kStride = 0x25400, kVideo = 144000, kAudio = 8192, kPerSegment = 7000;
    static constexpr uint64_t kSegment = uint64_t{kPerSegment} * kStride + 0x20000;

    explicit LongPalClip(uint32_t frames) : frames_(frames) {
        const DvClipLayout layout = WriteDvClip({.system = kPal, .frames = 1, .pcmUnits = false, .closingXml = false,
                                                 .payload = false, .frameCountField = frames});
        header_ = layout.pieces[1].second; // after the icon
    }
    static uint64_t FrameAt(uint64_t frame) {
        return 0x30000 + frame / kPerSegment * kSegment + frame % kPerSegment * kStride;
    }
    int64_t Seek(int64_t offset, int) override { return static_cast<int64_t>(position_ = static_cast<uint64_t>(offset)); }
    uint32_t Read(void* buffer, uint32_t count) override {
        auto* out = static_cast<char*>(buffer);
        std::memset(out, 0, count);
        if (position_ < header_.size()) {
            std::memcpy(out, header_.data() + position_, std::min<uint64_t>(count, header_.size() - position_));
            return count;
        }
        const uint64_t segment = (position_ - 0x10000) / kSegment;
        const uint64_t first = 0x30000 + segment * kSegment;
        if (segment > 0 && position_ == first - 0x20000)
            std::memcpy(out, "RIFF", 4);
        if (position_ < first || count != 4)
            return count;
        const uint64_t frame = segment * kPerSegment + (position_ - first) / kStride;
        const uint64_t at = (position_ - first) % kStride;
        const uint32_t junk = kDvUsualJunk;
        const std::pair<uint64_t, std::string> heads[] = {
            {0, "00dc"}, {4, DvTest::Le32(kVideo)}, {8 + kVideo, "JUNK"}, {12 + kVideo, DvTest::Le32(junk)},
            {16 + kVideo + junk, "01wb"}, {20 + kVideo + junk, DvTest::Le32(kAudio)},
            {24 + kVideo + junk + kAudio, "JUNK"}};
        for (const auto& [offset, bytes] : heads)
            if (frame < frames_ && at == offset)
                std::memcpy(out, bytes.data(), 4);
        return count;
    }
    void Write(const void*, uint32_t) override {}
    int64_t Length() override { return static_cast<int64_t>(FrameAt(frames_)); }

private:
    uint32_t frames_;
    std::string header_;
    uint64_t position_ = 0;
};

TEST(DvWalkSums, StopBeforeTheAudioSumPasses32Bits) {
    LongPalClip stream(600000);
    DvClip clip;
    Kalvory::ParseDvClip(clip, stream, 0);
    const uint32_t fitting = 0xFFFFFFFFu / LongPalClip::kAudio;
    EXPECT_EQ(clip.pcmDataSize, uint64_t{fitting} * LongPalClip::kAudio);
    EXPECT_EQ(clip.aviChain, (Kalvory::DvExtentList{{0, LongPalClip::FrameAt(fitting)}}));
}

} // namespace

namespace {

// A good header beside twins that each change one field.
TEST(DvHeader, OnlyAnUndamagedClipHeaderIsAClip) {
    const DvClipLayout good = WriteDvClip({.system = kNtsc, .frames = 3, .closingXml = false, .payload = false});
    const std::string& header = good.pieces[1].second;
    struct Twin {
        const char* name;
        uint64_t at;
        std::string bytes;
        uint64_t mediumEnd = 0;
    };
    const Twin twins[] = {
        {"good", 0, ""},
        {"RIFF", 0, "RIFX"},
        {"form type", 8, "AVIX"},
        {"stream type", 108, "auds"},
        {"strh dwScale 1, dwRate 30", 128, DvTest::Le32(1) + DvTest::Le32(30)},
        {"strf size 77", 168, DvTest::Le32(77)},
        {"odml", header.find("odml"), "odmX"},
        {"dmlh", header.find("dmlh"), "dmlX"},
        {"cut after 200 bytes", 0, "", good.aviOffset + 200},
    };
    for (const Twin& twin : twins) {
        DvClipLayout layout = good;
        if (!twin.bytes.empty())
            DvTest::Overwrite(layout, layout.aviOffset + twin.at, twin.bytes);
        LayoutStream stream(layout, 0, twin.mediumEnd);
        DvClip clip;
        const bool isClip = Kalvory::ParseDvClip(clip, stream, layout.aviOffset) != 0;
        EXPECT_EQ(isClip, twin.bytes.empty() && twin.mediumEnd == 0) << twin.name;
    }
    EXPECT_THROW(Kalvory::DvConstants(0), AAA::InvalidDataException);
    EXPECT_THROW(Kalvory::DvConstants(3), AAA::InvalidDataException);
    EXPECT_EQ(Kalvory::DvConstants(2).frameStride, 0x25400u);
}

} // namespace
