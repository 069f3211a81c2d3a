#include "ISOBMFF_BoxSpans.h"

#include <algorithm>

namespace Kalvory {

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

std::optional<Span> MoovPayload(const std::vector<uint8_t>& moov) {
    BoxHeader header;
    if (!ParseBoxHeader(moov.data(), moov.size(), header) || header.size > moov.size())
        return std::nullopt;
    return Span{moov.data() + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes};
}

std::vector<Span> Traks(Span moov) {
    std::vector<Span> traks;
    ForEachBox(moov, [&](uint32_t type, Span, Span payload) {
        if (type == BoxType("trak"))
            traks.push_back(payload);
    });
    return traks;
}

std::optional<Span> SampleEntries(Span trak) {
    const std::optional<Span> stsd = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stsd")});
    if (!stsd || stsd->size < 8)
        return std::nullopt;
    return Span{stsd->bytes + 8, stsd->size - 8};
}

uint32_t TimescaleOf(std::optional<Span> header) {
    if (!header || header->size < 4)
        return 0;
    const size_t at = header->bytes[0] == 1 ? 20 : 12;
    return header->size >= at + 4 ? Be32(header->bytes + at) : 0;
}

void BoxWriter::ChunkOffsets(const std::vector<uint64_t>& offsets) {
    const bool wide = std::any_of(offsets.begin(), offsets.end(), [](uint64_t at) { return at > UINT32_MAX; });
    const size_t at = Open(BoxType(wide ? "co64" : "stco"));
    U32(0);
    U32(static_cast<uint32_t>(offsets.size()));
    for (const uint64_t offset : offsets)
        wide ? U64(offset) : U32(static_cast<uint32_t>(offset));
    Close(at);
}

} // namespace Kalvory
