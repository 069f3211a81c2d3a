#include "DvClipWriter.h"
#include "DvClipRiff.h"

#include <algorithm>
#include <optional>
#include <stdexcept>

namespace TestSupport {
namespace {

using namespace DvRiff;

constexpr uint64_t kUnit = 0x10000;
constexpr uint64_t kHalfUnit = kUnit / 2;
constexpr uint32_t kSequenceBytes = 12000;
constexpr uint32_t kDifBlockBytes = 80;
constexpr uint32_t kDifBlocks = 150;
constexpr uint64_t kFirstFrame = 0x30000;
constexpr uint64_t kSegmentHeader = 0x20000;
constexpr uint32_t kDefaultJunk = kDvUsualJunk;

struct System {
    uint32_t sequences;
    uint32_t videoBytes;
    uint32_t stride;
    uint32_t framesPerSegment;
    uint32_t scale;
    uint32_t rate;
    uint32_t height;
    bool pal;
};
constexpr System kNtsc{10, 120000, 0x1F000, 8000, 1001, 30000, 480, false};
constexpr System kPal{12, 144000, 0x25400, 7000, 1, 25, 576, true};

struct Frame {
    uint64_t start = 0; // in the AVI
    uint32_t junk = kDefaultJunk;
    uint32_t audio = 0;
    uint64_t firstSample = 0;
};

struct PlacedGap {
    uint64_t boundary; // in the AVI
    uint32_t units;
    DvXmlInGap xml;
};

class Writer {
public:
    explicit Writer(const DvClipOptions& options)
        : options_(options), system_(options.system == DvVideoSystem::Pal ? kPal : kNtsc) {
        PlanFrames();
    }

    DvClipLayout Build() {
        for (const DvGap& gap : options_.gaps)
            PlaceGap(gap);
        AddFlushGaps();
        if (options_.payload)
            MakeChannels();
        layout_.aviOffset = kUnit;
        layout_.iconFile = IconBytes(options_.seed);
        layout_.icon = {0, layout_.iconFile.size()};
        layout_.pieces.emplace_back(0, layout_.iconFile);
        PlaceAvi();
        PlaceGapContents();
        std::sort(layout_.pieces.begin(), layout_.pieces.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        return std::move(layout_);
    }

private:
    void PlanFrames() {
        const uint32_t scale = system_.scale;
        const uint32_t rate = system_.rate;
        frames_.resize(options_.frames);
        for (uint32_t i = 0; i < options_.frames; ++i) {
            Frame& frame = frames_[i];
            frame.start = kFirstFrame + uint64_t{i} * system_.stride + uint64_t{i / system_.framesPerSegment} * kSegmentHeader;
            frame.firstSample = uint64_t{i} * options_.audioRate * scale / rate;
            const uint64_t next = uint64_t{i + 1} * options_.audioRate * scale / rate;
            frame.audio = static_cast<uint32_t>((next - frame.firstSample) * 4);
            layout_.pcmDataSize += frame.audio;
        }
        aviEnd_ = options_.frames == 0 ? kFirstFrame : frames_.back().start + system_.stride;
    }

    uint32_t SecondJunk(const Frame& frame) const {
        return system_.stride - system_.videoBytes - frame.junk - frame.audio - 32;
    }

    // Whether a boundary `at` bytes into the frame is at `place`.
    bool IsAt(DvGapPlace place, uint64_t at, const Frame& frame) const {
        const uint64_t video = system_.videoBytes;
        const uint64_t lastSequence = 8 + uint64_t{system_.sequences - 1} * kSequenceBytes;
        const uint64_t audioChunk = 16 + video + frame.junk;
        const uint64_t secondJunk = audioChunk + 8 + frame.audio;
        switch (place) {
        case DvGapPlace::FrameStart: return at == 0;
        case DvGapPlace::DifSequence: return at > 8 && at < lastSequence && (at - 8) % kSequenceBytes != 0;
        case DvGapPlace::LastDifSequence: return at > lastSequence && at < 8 + video;
        case DvGapPlace::FirstJunk: return at >= 16 + video && at < audioChunk;
        case DvGapPlace::AudioChunk: return at == audioChunk;
        case DvGapPlace::AudioSize: return at == audioChunk + 4;
        case DvGapPlace::Audio: return at >= audioChunk + 8 && at < secondJunk;
        case DvGapPlace::SecondJunk: return at == secondJunk;
        case DvGapPlace::SecondJunkSize: return at == secondJunk + 4;
        case DvGapPlace::SecondJunkData: return at >= secondJunk + 8 && at < system_.stride;
        }
        return false;
    }

    std::optional<uint64_t> BoundaryAt(DvGapPlace place, const Frame& frame) const {
        const uint64_t first = (frame.start + kUnit - 1) / kUnit * kUnit;
        for (uint64_t boundary = first; boundary < frame.start + system_.stride; boundary += kUnit)
            if (IsAt(place, boundary - frame.start, frame))
                return boundary;
        return std::nullopt;
    }

    // The first frame where the place meets a unit boundary, its first
    // "JUNK" resized if need be.
    void PlaceGap(const DvGap& gap) {
        for (uint32_t f = std::max(gap.fromFrame, nextGapFrame_); f < options_.frames; ++f) {
            Frame& frame = frames_[f];
            const uint32_t largest = system_.stride - system_.videoBytes - frame.audio - 32;
            // The usual size first, then any that fits.
            for (uint32_t step = 0, junk = kDefaultJunk; junk <= largest; junk = 2 * step++) {
                frame.junk = junk;
                if (const auto boundary = BoundaryAt(gap.place, frame)) {
                    gaps_.push_back({*boundary, gap.units, gap.xml});
                    layout_.gapFrames.push_back(f);
                    nextGapFrame_ = f + 1;
                    return;
                }
            }
            frame.junk = kDefaultJunk;
        }
        throw std::logic_error("no frame left where the gap's place meets a unit boundary");
    }

    // The camcorder writes its PCM units once enough audio waits, in the
    // frame where that happens, at whatever lies at the unit boundary there.
    void AddFlushGaps() {
        if (options_.pcmFlushUnits == 0)
            return;
        const uint64_t flush = options_.pcmFlushUnits * kHalfUnit;
        uint64_t recorded = 0;
        uint64_t written = 0;
        size_t next = 0; // the next placed gap
        const size_t placed = gaps_.size();
        for (uint32_t f = 0; f < options_.frames; ++f) {
            recorded += frames_[f].audio / 2;
            if (next < placed && layout_.gapFrames[next] == f) {
                written += (gaps_[next].units - (gaps_[next].xml == DvXmlInGap::None ? 0 : 1)) * kHalfUnit;
                ++next;
            } else if (recorded >= written + flush) {
                const uint64_t boundary = (frames_[f].start + kUnit - 1) / kUnit * kUnit;
                gaps_.push_back({boundary, options_.pcmFlushUnits, DvXmlInGap::None});
                written += flush;
            }
        }
        std::sort(gaps_.begin(), gaps_.end(), [](const auto& a, const auto& b) { return a.boundary < b.boundary; });
    }

    void MakeChannels() {
        const uint64_t samples = options_.frames == 0 ? 0 : frames_.back().firstSample + frames_.back().audio / 4;
        for (std::string* channel : {&layout_.pcm0File, &layout_.pcm1File}) {
            const int index = channel == &layout_.pcm0File ? 0 : 1;
            channel->reserve(2 * samples);
            for (uint64_t n = 0; n < samples; ++n) {
                const auto sample = static_cast<uint16_t>(Sample(n, index, options_.seed));
                channel->push_back(static_cast<char>(sample & 0xFF));
                channel->push_back(static_cast<char>(sample >> 8));
            }
        }
    }

    // Where a byte of the AVI lands: after every gap at or before it.
    uint64_t OnCard(uint64_t inAvi) const {
        uint64_t shift = 0;
        for (const PlacedGap& gap : gaps_)
            if (gap.boundary <= inAvi)
                shift += gap.units * kUnit;
        return layout_.aviOffset + inAvi + shift;
    }

    // Splits the AVI's bytes at the gaps.
    void PutAvi(uint64_t inAvi, const std::string& bytes) {
        uint64_t done = 0;
        while (done < bytes.size()) {
            uint64_t piece = bytes.size() - done;
            for (const PlacedGap& gap : gaps_)
                if (gap.boundary > inAvi + done)
                    piece = std::min(piece, gap.boundary - (inAvi + done));
            layout_.pieces.emplace_back(OnCard(inAvi + done), bytes.substr(done, piece));
            if (options_.payload)
                layout_.aviFile += bytes.substr(done, piece);
            done += piece;
        }
    }

    void PlaceAvi() {
        PutAvi(0, MainHeader());
        for (uint32_t i = 0; i < options_.frames; ++i) {
            if (i != 0 && i % system_.framesPerSegment == 0)
                PutAvi(frames_[i].start - kSegmentHeader, SegmentHeader(i));
            PutFrame(i);
        }
        uint64_t from = 0;
        for (const PlacedGap& gap : gaps_) {
            layout_.avi.push_back({OnCard(from), gap.boundary - from});
            from = gap.boundary;
        }
        layout_.avi.push_back({OnCard(from), aviEnd_ - from});
    }

    // Where segment `segment` ends: the next "RIFF", or the video's end.
    uint64_t SegmentEnd(uint32_t firstFrame) const {
        const uint32_t next = (firstFrame / system_.framesPerSegment + 1) * system_.framesPerSegment;
        return next < options_.frames ? frames_[next].start - kSegmentHeader : aviEnd_;
    }

    std::string MainHeader() const {
        const uint32_t total = options_.frames;
        const AviHeaderValues values{system_.scale,
                                     system_.rate,
                                     system_.stride,
                                     std::min(total, system_.framesPerSegment),
                                     system_.videoBytes,
                                     system_.height,
                                     total,
                                     options_.scale ? options_.scale : system_.scale,
                                     options_.rate ? options_.rate : system_.rate,
                                     options_.audioRate,
                                     layout_.pcmDataSize / 4,
                                     options_.frameCountField ? options_.frameCountField : total};
        const std::string hdrl = AviHeaderList(values);
        const uint64_t end = SegmentEnd(0);
        std::string header = "RIFF" + Le32(static_cast<uint32_t>(end - 8)) + "AVI " + hdrl;
        header += Chunk("JUNK", std::string(kFirstFrame - 12 - header.size() - 8, '\0'));
        return header + "LIST" + Le32(static_cast<uint32_t>(end - (kFirstFrame - 4))) + "movi";
    }

    std::string SegmentHeader(uint32_t firstFrame) const {
        const uint64_t riff = frames_[firstFrame].start - kSegmentHeader;
        const uint64_t end = SegmentEnd(firstFrame);
        return "RIFF" + Le32(static_cast<uint32_t>(end - riff - 8)) + "AVIX" +
               Chunk("JUNK", std::string(kSegmentHeader - 32, '\0')) + "LIST" +
               Le32(static_cast<uint32_t>(end - frames_[firstFrame].start + 4)) + "movi";
    }

    static std::string DifIds(uint8_t section, uint32_t sequence, uint32_t block) {
        return {static_cast<char>(section), static_cast<char>((sequence % 16) << 4 | 7), static_cast<char>(block)};
    }
    // The header block's first bytes: the ids, then the 50-field flag.
    std::string DifHeader(uint32_t sequence) const {
        return DifIds(0x1F, sequence, 0) + static_cast<char>(system_.pal ? 0xBF : 0x3F) + "\x68\x78\x78\x78";
    }

    // One DIF sequence: header, subcode, VAUX, then audio and video blocks.
    // Video blocks code flat macroblocks; the audio blocks (unused in an AVI
    // with its own audio stream) carry a pattern unique to the frame.
    std::string DifSequence(uint32_t frame, uint32_t sequence) const {
        std::string bytes(kSequenceBytes, '\xFF');
        for (uint32_t b = 0; b < kDifBlocks; ++b) {
            char* block = bytes.data() + b * kDifBlockBytes;
            if (b == 0) {
                bytes.replace(0, 8, DifHeader(sequence));
            } else if (b < 3) {
                bytes.replace(b * kDifBlockBytes, 3, DifIds(0x3F, sequence, b - 1));
                bytes.replace(b * kDifBlockBytes + 3, 4, Le32(frame));
            } else if (b < 6) {
                bytes.replace(b * kDifBlockBytes, 3, DifIds(0x56, sequence, b - 3));
                if (b == 5) // the VS pack: DV25 of this system
                    bytes.replace(b * kDifBlockBytes + 48, 4, std::string("\x60\xFF\xFF", 3) +
                                                                  static_cast<char>(system_.pal ? 0x20 : 0x00));
            } else if ((b - 6) % 16 == 0) {
                bytes.replace(b * kDifBlockBytes, 3, DifIds(0x76, sequence, (b - 6) / 16));
                for (uint32_t i = 3; i < kDifBlockBytes; ++i)
                    block[i] = static_cast<char>(frame * 131 + sequence * 17 + b * 5 + i * 7 + options_.seed);
            } else {
                const uint32_t k = b - 6;
                bytes.replace(b * kDifBlockBytes, 3, DifIds(0x96, sequence, k / 16 * 15 + k % 16 - 1));
                std::fill(block + 3, block + kDifBlockBytes, '\0');
                block[3] = 0x0F;
                for (const int at : {4, 18, 32, 46, 60, 70})
                    block[at + 1] = 0x06; // DC 0, then the end of the block
            }
        }
        return bytes;
    }

    void PutFrame(uint32_t i) {
        const Frame& frame = frames_[i];
        layout_.frames.push_back(OnCard(frame.start));
        const uint32_t video = system_.videoBytes;
        const std::string junk = "JUNK" + Le32(frame.junk);
        const std::string audio = "01wb" + Le32(frame.audio);
        const std::string secondJunk = "JUNK" + Le32(SecondJunk(frame));
        if (!options_.payload) {
            PutAvi(frame.start, "00dc" + Le32(video));
            for (uint32_t s = 0; s < system_.sequences; ++s)
                PutAvi(frame.start + 8 + uint64_t{s} * kSequenceBytes, DifHeader(s));
            PutAvi(frame.start + 8 + video, junk);
            PutAvi(frame.start + 16 + video + frame.junk, audio);
            PutAvi(frame.start + 24 + video + frame.junk + frame.audio, secondJunk);
            return;
        }
        std::string bytes = "00dc" + Le32(video);
        for (uint32_t s = 0; s < system_.sequences; ++s)
            bytes += DifSequence(i, s);
        bytes += junk + std::string(frame.junk, '\0') + audio;
        for (uint64_t n = frame.firstSample; n < frame.firstSample + frame.audio / 4; ++n) {
            bytes.append(layout_.pcm0File, 2 * n, 2);
            bytes.append(layout_.pcm1File, 2 * n, 2);
        }
        bytes += secondJunk + std::string(SecondJunk(frame), '\0');
        PutAvi(frame.start, bytes);
    }

    // The PCM part of a gap of `units` units at `at`: half for each channel,
    // in order, as far as there is audio left.
    void PutPcm(uint64_t at, uint64_t units) {
        const uint64_t half = units * kHalfUnit;
        const uint64_t channelBytes = layout_.pcmDataSize / 2;
        const uint64_t used = std::min(half, channelBytes - std::min(channelBytes, pcmPlaced_));
        if (used != 0 && options_.pcmUnits) {
            layout_.pcm0.push_back({at, used});
            layout_.pcm1.push_back({at + half, used});
            if (options_.payload) {
                layout_.pieces.emplace_back(at, layout_.pcm0File.substr(pcmPlaced_, used));
                layout_.pieces.emplace_back(at + half, layout_.pcm1File.substr(pcmPlaced_, used));
            }
        }
        pcmPlaced_ += half;
    }

    void PutXml(uint64_t at) {
        layout_.xmlFile = XmlText(options_.seed);
        layout_.pieces.emplace_back(at, layout_.xmlFile);
    }

    void PlaceGapContents() {
        uint64_t shift = 0;
        for (const PlacedGap& gap : gaps_) {
            const uint64_t at = layout_.aviOffset + gap.boundary + shift;
            const uint64_t pcmUnits = gap.units - (gap.xml == DvXmlInGap::None ? 0 : 1);
            PutPcm(gap.xml == DvXmlInGap::First ? at + kUnit : at, pcmUnits);
            if (gap.xml != DvXmlInGap::None)
                PutXml(gap.xml == DvXmlInGap::First ? at : at + pcmUnits * kUnit);
            shift += gap.units * kUnit;
        }
        // After the video: the rest of the audio, then the XML.
        const uint64_t after = layout_.aviOffset + (aviEnd_ + kUnit - 1) / kUnit * kUnit + shift;
        const uint64_t channelBytes = layout_.pcmDataSize / 2;
        const uint64_t left = options_.pcmUnits ? channelBytes - std::min(channelBytes, pcmPlaced_) : 0;
        const uint64_t lastUnits = (left + kHalfUnit - 1) / kHalfUnit;
        PutPcm(after, lastUnits);
        layout_.span = after + lastUnits * kUnit;
        if (options_.closingXml) {
            PutXml(layout_.span);
            layout_.xml = {layout_.span, layout_.xmlFile.size()};
            layout_.span += kUnit;
        }
    }

    const DvClipOptions& options_;
    const System& system_;
    std::vector<Frame> frames_;
    std::vector<PlacedGap> gaps_;
    uint32_t nextGapFrame_ = 0;
    uint64_t aviEnd_ = 0;
    uint64_t pcmPlaced_ = 0; // bytes of each channel's gaps so far
    DvClipLayout layout_;
};

} // namespace

DvClipLayout WriteDvClip(const DvClipOptions& options) { return Writer(options).Build(); }

} // namespace TestSupport
