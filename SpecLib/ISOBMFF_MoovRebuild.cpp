#include "ISOBMFF_MoovRebuild.h"

#include <algorithm>

#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_SampleTables.h"

namespace Kalvory {
namespace {

struct Span {
    const uint8_t* bytes = nullptr;
    size_t size = 0;
};

// Calls `each(type, whole box, payload)` for the boxes in `span`; false when one is cut.
template <class Each>
bool ForEachBox(Span span, Each each) {
    for (size_t at = 0; at + 8 <= span.size;) {
        BoxHeader header;
        if (!ParseBoxHeader(span.bytes + at, span.size - at, header) || header.size > span.size - at)
            return false;
        const auto size = static_cast<size_t>(header.size);
        each(header.type, Span{span.bytes + at, size}, Span{span.bytes + at + header.headerBytes, size - header.headerBytes});
        at += size;
    }
    return true;
}

// The payload of the first box of `type` inside `span`.
std::optional<Span> Child(Span span, uint32_t type) {
    std::optional<Span> found;
    ForEachBox(span, [&](uint32_t t, Span, Span payload) {
        if (t == type && !found)
            found = payload;
    });
    return found;
}

std::optional<Span> Path(Span span, std::initializer_list<uint32_t> types) {
    std::optional<Span> at = span;
    for (uint32_t type : types)
        if (!(at = Child(*at, type)))
            return std::nullopt;
    return at;
}

class Writer {
public:
    size_t Open(uint32_t type) {
        const size_t at = out.size();
        U32(0);
        U32(type);
        return at;
    }
    void Close(size_t at) {
        const auto size = static_cast<uint32_t>(out.size() - at);
        for (int i = 0; i < 4; ++i)
            out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
    }
    void U32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(static_cast<uint8_t>(v >> shift));
    }
    void U64(uint64_t v) {
        U32(static_cast<uint32_t>(v >> 32));
        U32(static_cast<uint32_t>(v));
    }
    void Bytes(Span span) { out.insert(out.end(), span.bytes, span.bytes + span.size); }
    std::vector<uint8_t> out;
};

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
void CopyTimed(Writer& w, uint32_t type, Span payload, TimedBox box, uint64_t duration) {
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

void WriteTables(Writer& w, const std::vector<RebuiltSample>& samples, uint32_t delta) {
    size_t at = w.Open(BoxType("stts"));
    w.U32(0);
    w.U32(1);
    w.U32(static_cast<uint32_t>(samples.size()));
    w.U32(delta);
    w.Close(at);
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
    const bool wide = !samples.empty() && samples.back().offset + samples.back().size > UINT32_MAX;
    at = w.Open(BoxType(wide ? "co64" : "stco"));
    w.U32(0);
    w.U32(static_cast<uint32_t>(samples.size()));
    for (const RebuiltSample& sample : samples)
        wide ? w.U64(sample.offset) : w.U32(static_cast<uint32_t>(sample.offset));
    w.Close(at);
}

class MoovBuilder {
public:
    MoovBuilder(const std::vector<RebuiltSample>& samples, const Timing& timing) : samples_(samples), timing_(timing) {}

    // Rewrites the container `payload` of `type`: the boxes kept are copied,
    // the timed ones and the tables replaced.
    void Container(uint32_t type, Span payload) {
        const size_t at = w.Open(type);
        ForEachBox(payload, [&](uint32_t t, Span box, Span inner) {
            if (t == BoxType("mdia") || t == BoxType("minf"))
                Container(t, inner);
            else if (t == BoxType("stbl"))
                Stbl(inner);
            else if (t == BoxType("mvhd"))
                CopyTimed(w, t, inner, TimedBox::Movie, timing_.MovieDuration());
            else if (t == BoxType("tkhd"))
                CopyTimed(w, t, inner, TimedBox::Track, timing_.MovieDuration());
            else if (t == BoxType("mdhd"))
                CopyTimed(w, t, inner, TimedBox::Media, timing_.mediaDuration);
            else if (t != BoxType("edts") && t != BoxType("tref") && t != BoxType("mvex"))
                w.Bytes(box); // edit lists and references speak of what is gone
        });
        w.Close(at);
    }

    Writer w;

private:
    void Stbl(Span payload) {
        const size_t at = w.Open(BoxType("stbl"));
        if (const std::optional<Span> stsd = Child(payload, BoxType("stsd"))) {
            const size_t box = w.Open(BoxType("stsd"));
            w.Bytes(*stsd);
            w.Close(box);
        }
        // The order of display is lost with ctts: the samples are shown as decoded.
        WriteTables(w, samples_, timing_.delta);
        w.Close(at);
    }

    const std::vector<RebuiltSample>& samples_;
    Timing timing_;
};

uint32_t TimescaleOf(std::optional<Span> header) {
    if (!header || header->size < 4)
        return 0;
    const size_t at = header->bytes[0] == 1 ? 20 : 12;
    return header->size >= at + 4 ? Be32(header->bytes + at) : 0;
}

// The template's traks in order.
std::vector<Span> Traks(Span moov) {
    std::vector<Span> traks;
    ForEachBox(moov, [&](uint32_t type, Span, Span payload) {
        if (type == BoxType("trak"))
            traks.push_back(payload);
    });
    return traks;
}

// The id of the first picture parameter set in the track's avcC: the first
// Exp-Golomb code after its NAL header.
std::optional<uint32_t> FirstPpsId(Span trak) {
    const std::optional<Span> stsd = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stsd")});
    constexpr size_t kVisualFields = 78;
    BoxHeader entry;
    if (!stsd || stsd->size < 8 || !ParseBoxHeader(stsd->bytes + 8, stsd->size - 8, entry) || entry.size > stsd->size - 8 ||
        entry.size < entry.headerBytes + kVisualFields)
        return std::nullopt;
    const size_t children = entry.headerBytes + kVisualFields;
    const std::optional<Span> avcc =
        Child(Span{stsd->bytes + 8 + children, static_cast<size_t>(entry.size) - children}, BoxType("avcC"));
    if (!avcc || avcc->size < 7)
        return std::nullopt;
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
            BoxHeader header;
            if (!ParseBoxHeader(moov.data(), moov.size(), header))
                return std::nullopt;
            const std::vector<Span> traks =
                Traks(Span{moov.data() + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes});
            const std::optional<uint32_t> pps = t < traks.size() ? FirstPpsId(traks[t]) : std::nullopt;
            if (!pps)
                return std::nullopt;
            found.ppsId = *pps;
            found.moov = std::move(moov);
            return found;
        }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> RebuildMoov(const VideoTemplate& from, const std::vector<RebuiltSample>& samples) {
    BoxHeader header;
    if (samples.empty() || !ParseBoxHeader(from.moov.data(), from.moov.size(), header) || header.size > from.moov.size())
        return std::nullopt;
    const Span moov{from.moov.data() + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes};
    const std::vector<Span> traks = Traks(moov);
    if (from.track >= traks.size())
        return std::nullopt;
    const Span trak = traks[from.track];
    Timing timing;
    timing.movieScale = TimescaleOf(Child(moov, BoxType("mvhd")));
    timing.mediaScale = TimescaleOf(Path(trak, {BoxType("mdia"), BoxType("mdhd")}));
    const std::optional<Span> stts = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stts")});
    if (!stts || stts->size < 16 || Be32(stts->bytes + 4) == 0)
        return std::nullopt;
    timing.delta = Be32(stts->bytes + 12);
    if (timing.movieScale == 0 || timing.mediaScale == 0 || timing.delta == 0)
        return std::nullopt;
    timing.mediaDuration = uint64_t{timing.delta} * samples.size();
    MoovBuilder builder(samples, timing);
    const size_t at = builder.w.Open(BoxType("moov"));
    ForEachBox(moov, [&](uint32_t type, Span box, Span payload) {
        if (type == BoxType("mvhd"))
            CopyTimed(builder.w, type, payload, TimedBox::Movie, timing.MovieDuration());
        else if (type == BoxType("trak") && payload.bytes == trak.bytes)
            builder.Container(type, payload);
        else if (type != BoxType("trak") && type != BoxType("mvex"))
            builder.w.Bytes(box);
    });
    builder.w.Close(at);
    return std::move(builder.w.out);
}

} // namespace Kalvory
