// The clip walk: frame by frame at the stride where the next chunk must
// stand, searching past gaps where it does not; the PCM files end where the
// audio chunks met say they do.
#include <algorithm>
#include <limits>

#include "AAA_DebugLog.h"
#include "DV_Clip.h"
#include "DV_GapSearch.h"

namespace Kalvory {
namespace {

const DvMarker kVideo = DvMarker::FourCc("00dc");
const DvMarker kJunk = DvMarker::FourCc("JUNK");
const DvMarker kAudio = DvMarker::FourCc("01wb");
const DvMarker kRiff = DvMarker::FourCc("RIFF");
const DvMarker kXml = DvMarker::FourCc("<?xm");

enum class FrameStep { Walked, Slow, Failed };

class FrameWalk {
public:
    FrameWalk(DvClip& clip, AAA::Stream& stream, uint64_t start)
        : clip_(clip), search_(clip, stream, start), system_(DvConstants(clip.system)) {}

    // Walks every segment; returns the walked length.
    uint64_t Run() {
        uint32_t remaining = clip_.dwTotalFrames;
        while (remaining > 0) {
            offset_ += kSegmentHeader;
            const uint32_t frames = std::min(remaining, clip_.framesPerSegment);
            if (!WalkSegment(frames))
                break;
            remaining -= frames;
        }
        // A walk cut short keeps the whole frames it met.
        if (!videoEnded_)
            search_.EndAviAt(walkedEnd_);
        return offset_;
    }

private:
    bool WalkSegment(uint32_t frames) {
        for (uint32_t f = 0; f < frames; ++f) {
            videoEnded_ = false;
            const FrameStep step = FastFrame();
            if (step == FrameStep::Failed || (step == FrameStep::Slow && !SlowFrame(f + 1 == frames)))
                return false;
        }
        return true;
    }

    // The whole frame undisturbed: the next one stands a stride on.
    FrameStep FastFrame() {
        if (!search_.MarkerAt(offset_ + clip_.frameStride, kVideo))
            return FrameStep::Slow;
        const uint64_t tail = offset_ + system_.videoChunkBytes + 8;
        uint32_t junk = 0;
        uint32_t audio = 0;
        if (!search_.Word(tail + 4, junk) || !search_.Word(tail + 12 + uint64_t{junk}, audio) ||
            !TakeAudio(system_.videoChunkBytes, junk, audio))
            return FrameStep::Failed;
        offset_ += clip_.frameStride;
        walkedEnd_ = offset_;
        return FrameStep::Walked;
    }

    bool SlowFrame(bool last) {
        if (!Expect(kVideo, 0))
            return false;
        offset_ += 4;
        const uint32_t video = system_.videoChunkBytes;
        uint32_t size = 0;
        if (!search_.Word(offset_, size))
            return false;
        if (size != video)
            SkipGapAtSizeWord(video);
        offset_ += 4;
        if (search_.MarkerAt(offset_ + video, kJunk)) {
            offset_ += video;
        } else {
            const uint64_t toJunk = WalkDifSequences(offset_);
            if (toJunk == 0)
                return false;
            offset_ += toJunk;
        }
        offset_ += 4;
        uint32_t junk = 0;
        if (!search_.Word(offset_, junk))
            return false;
        const uint64_t next = offset_ + clip_.frameStride - video - 12;
        if (search_.MarkerAt(next, last ? kRiff : kVideo)) {
            uint32_t audio = 0;
            if (!search_.Word(offset_ + junk + 8, audio) || !TakeAudio(video, junk, audio))
                return false;
            offset_ = next;
            walkedEnd_ = offset_;
            return true;
        }
        return WalkAudio(video, junk, last);
    }

    // From the first "JUNK"'s size word: "01wb", the second "JUNK", the next frame.
    bool WalkAudio(uint32_t video, uint32_t junk, bool last) {
        if (!Expect(kAudio, uint64_t{junk} + 4, Boundary::Try))
            return false;
        offset_ += 4;
        uint32_t audio = 0;
        if (!search_.Word(offset_, audio))
            return false;
        if (search_.MarkerAt(offset_ + audio + 4, kJunk)) {
            offset_ += uint64_t{audio} + 4;
        } else if (const uint64_t found = search_.FindAfterGap(kJunk, uint64_t{audio} + 4, offset_)) {
            offset_ += found;
        } else {
            const uint64_t atBoundary = search_.FindAfterGapAtBoundary(kJunk, offset_);
            // The size word opens the unit after the gap.
            if (atBoundary == 0 || !search_.Word(clip_.aviChain.back().start - search_.Start(), audio))
                return false;
            offset_ += atBoundary;
        }
        if (!TakeAudio(video, junk, audio))
            return false;
        offset_ += 4;
        const uint64_t secondJunk = uint64_t{clip_.frameStride} - video - junk - audio - 32;
        if (last)
            return EndVideo(static_cast<uint32_t>(secondJunk));
        if (!Expect(kVideo, secondJunk + 4))
            return false;
        walkedEnd_ = offset_;
        return true;
    }

    enum class Boundary { Skip, Try };
    // `marker` at offset + distance, or after a gap; the offset moves to it.
    bool Expect(const DvMarker& marker, uint64_t distance, Boundary boundary = Boundary::Skip) {
        if (search_.MarkerAt(offset_ + distance, marker)) {
            offset_ += distance;
            return true;
        }
        uint64_t found = search_.FindAfterGap(marker, distance, offset_);
        if (found == 0 && boundary == Boundary::Try)
            found = search_.FindAfterGapAtBoundary(marker, offset_);
        offset_ += found;
        return found != 0;
    }

    // A size word other than the expected one at a unit boundary was cut off
    // by a gap: the expected word stands after it. Elsewhere no gap can begin,
    // and the walk goes on with the expected size.
    void SkipGapAtSizeWord(uint32_t expected) {
        if (offset_ % kDvUnit == 0)
            offset_ += search_.FindAfterGap(DvMarker::SizeWord(expected), 0, offset_);
    }

    // From the video data's first byte to the "JUNK" after it, sequence by
    // sequence; 0 when a sequence is not found.
    uint64_t WalkDifSequences(uint64_t dataStart) {
        uint64_t sequence = dataStart;
        for (uint32_t i = 1; i <= system_.difSequences; ++i) {
            const bool lastSequence = i == system_.difSequences;
            const DvMarker next = lastSequence ? kJunk : DvMarker::DifHeader(i);
            if (search_.MarkerAt(sequence + kDifSequenceBytes, next)) {
                sequence += kDifSequenceBytes;
                continue;
            }
            const uint64_t found = search_.FindAfterGap(next, kDifSequenceBytes, sequence,
                                                        lastSequence ? XmlMark::Set : XmlMark::Ignore);
            if (found == 0)
                return 0;
            sequence += found;
        }
        return sequence - dataStart;
    }

    // The last frame of a segment: its second "JUNK" completes the stride and
    // ends the video data; the PCM units and the XML may follow.
    bool EndVideo(uint32_t secondJunk) {
        uint32_t size = 0;
        if (!search_.Word(offset_, size))
            return false;
        if (size != secondJunk)
            SkipGapAtSizeWord(secondJunk);
        const uint64_t end = offset_ + 4 + secondJunk;
        uint32_t lastWord = 0;
        if (!search_.Word(end - 4, lastWord))
            return false; // cut by the end of the medium
        offset_ = end;
        const uint64_t afterVideo = RoundUpToUnit(end);
        if (const uint64_t found = search_.FindAfterGap(kXml, 0, afterVideo)) {
            clip_.aviChain.pop_back(); // the XML is no AVI data
            offset_ = afterVideo + found;
        }
        search_.EndAviAt(end);
        walkedEnd_ = end;
        videoEnded_ = true;
        return true;
    }

    // The frame's audio, when its chunks fit the stride and the sum 32 bits.
    bool TakeAudio(uint32_t video, uint32_t junk, uint32_t audio) {
        if (uint64_t{video} + junk + audio + 32 > clip_.frameStride ||
            clip_.pcmDataSize > std::numeric_limits<uint32_t>::max() - audio)
            return false;
        clip_.pcmDataSize += audio;
        return true;
    }

    DvClip& clip_;
    DvGapSearch search_;
    const DvSystemConstants& system_;
    uint64_t offset_ = kFirstSegmentHeader;
    uint64_t walkedEnd_ = 0;  // after the last whole frame
    bool videoEnded_ = false; // the last frame walked ended the video data
};

void LogPcmExtents(const DvExtentList& extents) {
    AAA::DebugLog(7, "\tPCM0\t");
    for (const DvExtent& extent : extents)
        AAA::DebugLog(7, "0x%016I64X(0x%08X) ", extent.start, extent.length);
    AAA::DebugLog(7, "\n");
}

// Both PCM files hold half the audio; what the last units hold beyond it is
// padding.
void TrimPcm(DvClip& clip) {
    LogPcmExtents(clip.pcm0Chain);
    const uint64_t sum = TotalLength(clip.pcm0Chain);
    const uint32_t half = clip.pcmDataSize / 2;
    const int64_t diff = static_cast<int64_t>(sum) - half;
    AAA::DebugLog(7, "\tdiff = pcm0SizeofTotalBlocks - (pcmDataSize / 2) = %I64d = 0x%016I64X - (%d / 2)\n", diff,
                  sum, clip.pcmDataSize);
    if (diff <= 0)
        return;
    AAA::DebugLog(7, "\tpcm0Chain.back().length = pcm0Chain.back().length - diff\t= %d - %I64d",
                  clip.pcm0Chain.back().length, diff);
    FitExtentsTo(clip.pcm0Chain, half);
    FitExtentsTo(clip.pcm1Chain, half);
    AAA::DebugLog(7, "\t= %d\n", clip.pcm0Chain.back().length);
}

} // namespace

uint64_t ParseDvClip(DvClip& clip, AAA::Stream& stream, uint64_t start) {
    clip = DvClip{};
    if (!ParseDvHeader(clip, stream, start))
        return 0;
    clip.system = DvSystemOf(clip.scale, clip.rate);
    if (clip.system == 0)
        return 0;
    const DvSystemConstants& system = DvConstants(clip.system);
    clip.frameStride = system.frameStride;
    clip.framesPerSegment = system.framesPerSegment;
    AAA::DebugLog(7, "AVI(%s)\t", system.name);
    AAA::DebugLog(7, "dwTotalFrames = %d\n", clip.dwTotalFrames);
    clip.aviChain.push_back({start, 0});
    const uint64_t walked = FrameWalk(clip, stream, start).Run();
    TrimPcm(clip);
    return walked;
}

} // namespace Kalvory
