// AAC frames as an MP4 chunk holds them, back to back without their sizes.
// ffmpeg's encoder makes them; its ADTS output gives each frame's size, the
// truth a split must find.
#include <gtest/gtest.h>

#include <optional>
#include <random>

#include "ISOBMFF_AacFrames.h"
#include "support/MtoolsHelpers.h"
#include "support/TempDir.h"

namespace {

using Kalvory::AacLayout;

struct Encoded {
    AacLayout layout;
    std::vector<std::string> frames;
    std::vector<uint32_t> Sizes() const {
        std::vector<uint32_t> sizes;
        for (const std::string& frame : frames)
            sizes.push_back(static_cast<uint32_t>(frame.size()));
        return sizes;
    }
};

std::optional<Encoded> Encode(const TestSupport::TempDir& dir, const std::string& source, int channels) {
    const auto ffmpeg = TestSupport::FindTool("ffmpeg");
    if (!ffmpeg)
        return std::nullopt;
    const auto out = dir / "sound.aac";
    if (TestSupport::RunCommand({*ffmpeg, "-v", "error", "-y", "-f", "lavfi", "-i", source, "-ac", std::to_string(channels),
                                 "-t", "3", "-c:a", "aac", "-b:a", "96k", "-f", "adts", out.string()})
            .exitCode != 0)
        return std::nullopt;
    const std::string adts = TestSupport::ReadFileBytes(out);
    Encoded encoded;
    for (size_t at = 0; at + 7 <= adts.size();) {
        const auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(adts[at + i])); };
        const size_t length = (byte(3) & 3) << 11 | byte(4) << 3 | byte(5) >> 5;
        const size_t header = (byte(1) & 1) ? 7 : 9;
        if (length <= header || at + length > adts.size())
            return std::nullopt;
        encoded.layout = {(byte(2) & 1) << 2 | byte(3) >> 6, (byte(2) >> 2) & 15};
        encoded.frames.push_back(adts.substr(at + header, length - header));
        at += length;
    }
    return encoded;
}

TEST(IsoMediaAacFrames, ChunksOfFramesSplitWhereTheEncoderEndedThem) {
    TestSupport::TempDir dir{"kalvory-aac"};
    // Each sound twice: the template's clip and the clip split, as two recordings of one camera.
    struct Sound {
        std::string template_, clip;
        int channels;
    };
    const Sound sounds[] = {{"sine=frequency=440:sample_rate=48000", "sine=frequency=330:sample_rate=48000", 1},
                            {"anoisesrc=a=0.3:r=48000:seed=5", "anoisesrc=a=0.3:r=48000:seed=9", 2}};
    for (const auto& [template_, sound, channels] : sounds) {
        const std::optional<Encoded> other = Encode(dir, template_, channels);
        const std::optional<Encoded> clip = Encode(dir, sound, channels);
        if (!other || !clip)
            GTEST_SKIP() << "ffmpeg with its AAC encoder is needed";
        const Kalvory::AacFrameSizes likely(other->Sizes());
        size_t framesTried = 0, shiftedPassed = 0;
        std::mt19937 random(static_cast<uint32_t>(channels * 7 + sound.size()));
        for (size_t first = 0; first < clip->frames.size();) {
            const size_t count = std::min(clip->frames.size() - first, size_t{1} + random() % 24);
            std::string chunk;
            std::vector<uint32_t> sizes;
            for (size_t i = first; i < first + count; ++i) {
                chunk += clip->frames[i];
                sizes.push_back(static_cast<uint32_t>(clip->frames[i].size()));
            }
            const auto* bytes = reinterpret_cast<const uint8_t*>(chunk.data());
            const auto split = Kalvory::SplitAacFrames(clip->layout, bytes, chunk.size(), Kalvory::ChunkEnd::Whole, likely);
            ASSERT_TRUE(split && *split == sizes) << sound << ", " << channels << " channels, frames " << first << "+" << count;
            // Cut inside a frame, stale zeros after: the whole frames before the
            // cut, the last perhaps with the cut one's first bytes (which a
            // decoder passes over: they follow its end).
            if (first + count < clip->frames.size() && count > 1) {
                constexpr size_t kCut = 20;
                const std::string cut = chunk + clip->frames[first + count].substr(0, kCut) + std::string(300, '\0');
                auto kept = Kalvory::SplitAacFrames(clip->layout, reinterpret_cast<const uint8_t*>(cut.data()),
                                                    cut.size(), Kalvory::ChunkEnd::MayBeCut, likely);
                ASSERT_TRUE(kept && kept->size() == sizes.size()) << "cut after frames " << first << "+" << count;
                EXPECT_GE(kept->back(), sizes.back());
                EXPECT_LE(kept->back(), sizes.back() + kCut);
                kept->back() = sizes.back();
                EXPECT_EQ(*kept, sizes);
            }
            // What the fragment search asks of a sample the table puts there:
            // every frame passes whole and cut anywhere, the bytes one past its start seldom.
            for (size_t i = first; i < first + count; ++i) {
                const auto* frame = reinterpret_cast<const uint8_t*>(clip->frames[i].data());
                const size_t size = clip->frames[i].size();
                EXPECT_TRUE(Kalvory::MayBeAacFrame(clip->layout, frame, size, size)) << "frame " << i;
                EXPECT_TRUE(Kalvory::MayBeAacFrame(clip->layout, frame, 1 + random() % size, size)) << "frame " << i;
                shiftedPassed += size > 3 && Kalvory::MayBeAacFrame(clip->layout, frame + 1, size - 1, size - 1);
                ++framesTried;
            }
            // Frames of the other layout are none of these.
            const AacLayout wrong{3 - clip->layout.channels, clip->layout.frequencyIndex};
            EXPECT_FALSE(Kalvory::SplitAacFrames(wrong, bytes, chunk.size(), Kalvory::ChunkEnd::Whole, likely));
            first += count;
        }
        EXPECT_LT(shiftedPassed * 10, framesTried) << sound << ": bytes that are no frame's start passed";
    }
}

TEST(IsoMediaAacFrames, OnlyLowComplexityInMonoOrStereoIsSplit) {
    const uint8_t lcStereo48k[] = {0x11, 0x90}, lcMono44k[] = {0x12, 0x08}, heStereo[] = {0x29, 0x90}, surround[] = {0x11, 0xB0};
    const std::optional<AacLayout> stereo = Kalvory::AacLayoutOf(lcStereo48k, 2), mono = Kalvory::AacLayoutOf(lcMono44k, 2);
    ASSERT_TRUE(stereo && mono);
    EXPECT_EQ(stereo->channels, 2u);
    EXPECT_EQ(stereo->frequencyIndex, 3u);
    EXPECT_EQ(mono->channels, 1u);
    EXPECT_EQ(mono->frequencyIndex, 4u);
    EXPECT_FALSE(Kalvory::AacLayoutOf(heStereo, 2));
    EXPECT_FALSE(Kalvory::AacLayoutOf(surround, 2));
    EXPECT_FALSE(Kalvory::AacLayoutOf(lcStereo48k, 1));
}

} // namespace
