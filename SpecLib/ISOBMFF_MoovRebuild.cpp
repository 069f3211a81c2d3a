#include "ISOBMFF_MoovRebuild.h"

#include <algorithm>
#include <functional>

#include "ISOBMFF_BoxSpans.h"
#include "ISOBMFF_SampleTables.h"

namespace Kalvory {
namespace {

struct Timing {
    uint32_t movieScale = 0, mediaScale = 0, delta = 0;
    uint64_t mediaDuration = 0;
    uint64_t MovieDuration() const { return mediaScale == 0 ? 0 : mediaDuration * movieScale / mediaScale; }
};

// A full box's header (version, flags) then times; the duration follows the
// timescale in mvhd and mdhd, comes after the track ID in tkhd.
enum class TimedBox { Movie, Media, Track };

size_t DurationOffset(uint8_t version, TimedBox box) {
    if (box == TimedBox::Track)
        return version == 1 ? 28 : 20;
    return version == 1 ? 24 : 16;
}

// The box copied with its duration set.
void CopyTimed(BoxWriter& w, uint32_t type, Span payload, TimedBox box, uint64_t duration) {
    const size_t at = w.Open(type);
    const size_t from = w.out.size();
    w.Bytes(payload);
    const uint8_t version = payload.size > 0 ? payload.bytes[0] : 0;
    const size_t offset = DurationOffset(version, box);
    if (payload.size >= offset + (version == 1 ? 8 : 4)) {
        std::vector<uint8_t> field;
        const uint64_t value = version == 1 ? duration : std::min<uint64_t>(duration, UINT32_MAX);
        for (int i = version == 1 ? 7 : 3; i >= 0; --i)
            field.push_back(static_cast<uint8_t>(value >> (8 * i)));
        std::copy(field.begin(), field.end(), w.out.begin() + static_cast<std::ptrdiff_t>(from + offset));
    }
    w.Close(at);
}

void WriteTables(BoxWriter& w, const std::vector<RebuiltSample>& samples, uint32_t delta) {
    size_t at = w.Open(BoxType("stts"));
    w.U32(0);
    w.U32(1);
    w.U32(static_cast<uint32_t>(samples.size()));
    w.U32(delta);
    w.Close(at);
    if (std::any_of(samples.begin(), samples.end(), [](const RebuiltSample& s) { return s.composition != 0; })) {
        at = w.Open(BoxType("ctts"));
        w.U32(0);
        const size_t count = w.out.size();
        w.U32(0);
        uint32_t runs = 0;
        for (size_t i = 0, j = 0; i < samples.size(); i = j, ++runs) {
            for (j = i; j < samples.size() && samples[j].composition == samples[i].composition;)
                ++j;
            w.U32(static_cast<uint32_t>(j - i));
            w.U32(samples[i].composition);
        }
        w.Patch32(count, runs);
        w.Close(at);
    }
    if (!std::all_of(samples.begin(), samples.end(), [](const RebuiltSample& s) { return s.sync; })) {
        at = w.Open(BoxType("stss"));
        w.U32(0);
        const size_t count = w.out.size();
        w.U32(0);
        uint32_t syncs = 0;
        for (size_t i = 0; i < samples.size(); ++i)
            if (samples[i].sync) {
                w.U32(static_cast<uint32_t>(i + 1));
                ++syncs;
            }
        for (int i = 0; i < 4; ++i)
            w.out[count + static_cast<size_t>(i)] = static_cast<uint8_t>(syncs >> (24 - 8 * i));
        w.Close(at);
    }
    at = w.Open(BoxType("stsc"));
    w.U32(0);
    w.U32(1);
    w.U32(1);
    w.U32(1);
    w.U32(1);
    w.Close(at);
    at = w.Open(BoxType("stsz"));
    w.U32(0);
    w.U32(0);
    w.U32(static_cast<uint32_t>(samples.size()));
    for (const RebuiltSample& sample : samples)
        w.U32(sample.size);
    w.Close(at);
    std::vector<uint64_t> offsets;
    for (const RebuiltSample& sample : samples)
        offsets.push_back(sample.offset);
    w.ChunkOffsets(offsets);
}

// A track of the rebuilt moov: its template trak, its times, and what
// writes its tables after stsd.
struct TrackPlan {
    Span trak;
    Timing timing;
    std::function<void(BoxWriter&)> tables;
    uint64_t shownFrom = 0; // the media time shown first
    uint64_t shownFor = 0;  // and for how long, in media time
};

// An edit list that shows the track from `plan.shownFrom`.
void WriteEdit(BoxWriter& w, const TrackPlan& plan) {
    const size_t edts = w.Open(BoxType("edts"));
    const size_t elst = w.Open(BoxType("elst"));
    w.U32(0);
    w.U32(1);
    const uint64_t shown = plan.shownFor * plan.timing.movieScale / plan.timing.mediaScale;
    w.U32(static_cast<uint32_t>(std::min<uint64_t>(shown, UINT32_MAX)));
    w.U32(static_cast<uint32_t>(std::min<uint64_t>(plan.shownFrom, INT32_MAX)));
    w.U32(0x00010000); // at rate 1
    w.Close(elst);
    w.Close(edts);
}

class MoovBuilder {
public:
    // Rewrites the container `payload` of `type`: the boxes kept are copied,
    // the timed ones and the tables replaced.
    void Container(uint32_t type, Span payload, const TrackPlan& plan) {
        const size_t at = w.Open(type);
        ForEachBox(payload, [&](uint32_t t, Span box, Span inner) {
            if (t == BoxType("mdia") || t == BoxType("minf"))
                Container(t, inner, plan);
            else if (t == BoxType("stbl"))
                Stbl(inner, plan);
            else if (t == BoxType("tkhd")) {
                CopyTimed(w, t, inner, TimedBox::Track, plan.timing.MovieDuration());
                if (plan.shownFrom > 0)
                    WriteEdit(w, plan);
            }
            else if (t == BoxType("mdhd"))
                CopyTimed(w, t, inner, TimedBox::Media, plan.timing.mediaDuration);
            else if (t != BoxType("edts") && t != BoxType("tref"))
                w.Bytes(box); // edit lists and references speak of what is gone
        });
        w.Close(at);
    }

    BoxWriter w;

private:
    void Stbl(Span payload, const TrackPlan& plan) {
        const size_t at = w.Open(BoxType("stbl"));
        if (const std::optional<Span> stsd = Child(payload, BoxType("stsd"))) {
            const size_t box = w.Open(BoxType("stsd"));
            w.Bytes(*stsd);
            w.Close(box);
        }
        plan.tables(w);
        w.Close(at);
    }
};

// Where the track's edit list starts it in its media: its one entry's time; 0 for any other list.
uint64_t EditStart(Span trak) {
    const std::optional<Span> elst = Path(trak, {BoxType("edts"), BoxType("elst")});
    if (!elst || elst->size < 8 || Be32(elst->bytes + 4) != 1)
        return 0;
    const bool wide = elst->bytes[0] == 1;
    if (elst->size < (wide ? 28u : 20u))
        return 0;
    const uint64_t start = wide ? Be64(elst->bytes + 16) : Be32(elst->bytes + 12);
    const bool empty = wide ? start == UINT64_MAX : start == UINT32_MAX; // -1: an empty edit
    return empty ? 0 : start;
}

// The video track's plan: one sample a picture, at the template's rate,
// shown from its first picture in the order of display.
std::optional<TrackPlan> VideoPlan(Span trak, uint32_t movieScale, const std::vector<RebuiltSample>& samples) {
    TrackPlan video{trak, {}, {}};
    video.timing.movieScale = movieScale;
    video.timing.mediaScale = TimescaleOf(Path(trak, {BoxType("mdia"), BoxType("mdhd")}));
    const std::optional<Span> stts = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stts")});
    if (!stts || stts->size < 16 || Be32(stts->bytes + 4) == 0)
        return std::nullopt;
    const uint32_t delta = Be32(stts->bytes + 12);
    if (video.timing.mediaScale == 0 || delta == 0)
        return std::nullopt;
    video.timing.mediaDuration = uint64_t{delta} * samples.size();
    video.tables = [&samples, delta](BoxWriter& w) { WriteTables(w, samples, delta); };
    uint64_t first = UINT64_MAX;
    for (size_t i = 0; i < samples.size(); ++i)
        first = std::min(first, i * uint64_t{delta} + samples[i].composition);
    video.shownFrom = first;
    video.shownFor = video.timing.mediaDuration;
    return video;
}

TrackPlan SoundPlan(Span trak, uint32_t movieScale, const AudioTemplate& from, const std::vector<AudioChunk>& chunks) {
    TrackPlan sound{trak, {movieScale, from.mediaScale, 0, 0}, {}};
    sound.timing.mediaDuration = AudioDuration(from, chunks);
    sound.tables = [&from, &chunks](BoxWriter& w) { WriteAudioTables(w, from, chunks); };
    // The encoder's first samples (AAC's priming) stay unheard, as in the template.
    sound.shownFrom = std::min(EditStart(trak), sound.timing.mediaDuration);
    sound.shownFor = sound.timing.mediaDuration - sound.shownFrom;
    return sound;
}

// The template's moov with the planned traks rebuilt, the others left out.
std::vector<uint8_t> WriteMoov(Span moov, const std::vector<TrackPlan>& plans) {
    uint64_t movieDuration = 0;
    for (const TrackPlan& plan : plans)
        movieDuration = std::max(movieDuration, plan.timing.MovieDuration());
    MoovBuilder builder;
    const size_t at = builder.w.Open(BoxType("moov"));
    ForEachBox(moov, [&](uint32_t type, Span box, Span payload) {
        const auto plan =
            std::find_if(plans.begin(), plans.end(), [&](const TrackPlan& p) { return p.trak.bytes == payload.bytes; });
        if (type == BoxType("mvhd"))
            CopyTimed(builder.w, type, payload, TimedBox::Movie, movieDuration);
        else if (type == BoxType("trak") && plan != plans.end())
            builder.Container(type, payload, *plan);
        else if (type != BoxType("trak") && type != BoxType("mvex"))
            builder.w.Bytes(box);
    });
    builder.w.Close(at);
    return std::move(builder.w.out);
}

// The track's avcC.
std::optional<Span> AvcConfig(Span trak) {
    const std::optional<Span> stsd = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stsd")});
    constexpr size_t kVisualFields = 78;
    BoxHeader entry;
    if (!stsd || stsd->size < 8 || !ParseBoxHeader(stsd->bytes + 8, stsd->size - 8, entry) || entry.size > stsd->size - 8 ||
        entry.size < entry.headerBytes + kVisualFields)
        return std::nullopt;
    const size_t children = entry.headerBytes + kVisualFields;
    const std::optional<Span> avcc =
        Child(Span{stsd->bytes + 8 + children, static_cast<size_t>(entry.size) - children}, BoxType("avcC"));
    return avcc && avcc->size >= 7 ? avcc : std::nullopt;
}

// The fields of the first sequence parameter set in the avcC.
std::optional<AvcSequence> FirstSequence(Span avcc) {
    if ((avcc.bytes[5] & 0x1F) == 0)
        return std::nullopt;
    const size_t length = size_t{avcc.bytes[6]} << 8 | avcc.bytes[7];
    return 8 + length <= avcc.size ? AvcSequenceOf(avcc.bytes + 8, length) : std::nullopt;
}

// The id of the first picture parameter set in the avcC: the first
// Exp-Golomb code after its NAL header.
std::optional<uint32_t> FirstPpsId(Span config) {
    const std::optional<Span> avcc = config;
    size_t at = 6;
    for (int n = avcc->bytes[5] & 0x1F; n > 0 && at + 2 <= avcc->size; --n)
        at += 2 + (size_t{avcc->bytes[at]} << 8 | avcc->bytes[at + 1]);
    if (at + 1 + 2 + 2 > avcc->size || avcc->bytes[at] == 0)
        return std::nullopt;
    const uint8_t* pps = avcc->bytes + at + 3 + 1; // past the count, the length and the NAL header
    const size_t left = avcc->size - (at + 4);
    uint32_t bits = 0;
    for (size_t i = 0; i < 4; ++i)
        bits = bits << 8 | (i < left ? pps[i] : 0);
    int zeros = 0;
    while (zeros < 16 && (bits & (0x80000000u >> zeros)) == 0)
        ++zeros;
    return zeros >= 16 ? std::nullopt : std::optional<uint32_t>((bits >> (31 - 2 * zeros)) - 1);
}

} // namespace

std::optional<VideoTemplate> VideoTemplateOf(std::vector<uint8_t> moov) {
    MovieTables tables;
    if (!ParseMovieTables(moov.data(), moov.size(), tables))
        return std::nullopt;
    for (size_t t = 0; t < tables.tracks.size(); ++t)
        if (tables.tracks[t].coding == SampleCoding::Avc) {
            VideoTemplate found;
            found.track = static_cast<uint16_t>(t);
            found.nalLengthBytes = tables.tracks[t].nalLengthBytes;
            for (const MediaSample& sample : tables.samples)
                if (sample.track == t)
                    found.largestSample = std::max(found.largestSample, sample.size);
            const std::optional<Span> payload = MoovPayload(moov);
            const std::vector<Span> traks = payload ? Traks(*payload) : std::vector<Span>{};
            const std::optional<Span> avcc = t < traks.size() ? AvcConfig(traks[t]) : std::nullopt;
            const std::optional<uint32_t> pps = avcc ? FirstPpsId(*avcc) : std::nullopt;
            if (!pps)
                return std::nullopt;
            found.ppsId = *pps;
            found.sequence = FirstSequence(*avcc);
            found.reordered = Path(traks[t], {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("ctts")}).has_value();
            found.audio = AudioTemplateOf(*payload, tables, found.track);
            found.pictureScale = TimescaleOf(Path(traks[t], {BoxType("mdia"), BoxType("mdhd")}));
            const std::optional<Span> stts =
                Path(traks[t], {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stts")});
            found.pictureDelta = stts && stts->size >= 16 && Be32(stts->bytes + 4) > 0 ? Be32(stts->bytes + 12) : 0;
            found.moov = std::move(moov);
            return found;
        }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> RebuildMoov(const VideoTemplate& from, const std::vector<RebuiltSample>& samples,
                                                const std::vector<AudioChunk>& audio) {
    const std::optional<Span> moov = MoovPayload(from.moov);
    if (samples.empty() || !moov)
        return std::nullopt;
    const std::vector<Span> traks = Traks(*moov);
    const uint32_t movieScale = TimescaleOf(Child(*moov, BoxType("mvhd")));
    std::optional<TrackPlan> video = from.track < traks.size() && movieScale > 0
                                         ? VideoPlan(traks[from.track], movieScale, samples)
                                         : std::nullopt;
    if (!video)
        return std::nullopt;
    std::vector<TrackPlan> plans{std::move(*video)};
    if (from.audio && !audio.empty() && from.audio->track < traks.size())
        plans.push_back(SoundPlan(traks[from.audio->track], movieScale, *from.audio, audio));
    return WriteMoov(*moov, plans);
}

} // namespace Kalvory
