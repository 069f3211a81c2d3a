#include "ISOBMFF_AudioRebuild.h"

#include <algorithm>

#include "ISOBMFF_SoundLayout.h"

namespace Kalvory {
namespace {

// A gap larger than this is no chunk of sound between pictures.
constexpr uint64_t kLargestChunk = 16u << 20;

uint32_t Be16(const uint8_t* bytes) { return uint32_t{bytes[0]} << 8 | bytes[1]; }

uint32_t HandlerOf(Span trak) {
    const std::optional<Span> hdlr = Path(trak, {BoxType("mdia"), BoxType("hdlr")});
    return hdlr && hdlr->size >= 12 ? Be32(hdlr->bytes + 8) : 0;
}

// A sound sample entry: its payload, and where its child boxes begin (the
// QuickTime versions 1 and 2 add fields).
struct SoundEntry {
    uint32_t type = 0;
    Span payload;
    uint32_t version = 0;
    Span children;
};

std::optional<SoundEntry> SoundEntryAt(Span entries) {
    BoxHeader header;
    if (!ParseBoxHeader(entries.bytes, entries.size, header) || header.size > entries.size)
        return std::nullopt;
    SoundEntry entry;
    entry.type = header.type;
    entry.payload = Span{entries.bytes + header.headerBytes, static_cast<size_t>(header.size) - header.headerBytes};
    if (entry.payload.size < 28)
        return std::nullopt;
    entry.version = Be16(entry.payload.bytes + 8);
    const size_t children = entry.version == 2 ? 64 : entry.version == 1 ? 44 : 28;
    if (entry.version > 2 || entry.payload.size < children)
        return std::nullopt;
    entry.children = Span{entry.payload.bytes + children, entry.payload.size - children};
    return entry;
}

std::optional<SoundEntry> FirstSoundEntry(Span trak) {
    const std::optional<Span> entries = SampleEntries(trak);
    return entries ? SoundEntryAt(*entries) : std::nullopt;
}

bool ReadPcm(const SoundEntry& entry, AudioTemplate& audio) {
    const uint8_t* p = entry.payload.bytes;
    uint32_t channels = Be16(p + 16), bits = Be16(p + 18);
    bool bigEndian = entry.type == BoxType("twos");
    if (entry.type == BoxType("sowt") || entry.type == BoxType("twos")) {
        audio.bytesPerFrame = entry.version == 1 && Be32(p + 36) != 0 ? Be32(p + 36) : channels * bits / 8;
    } else if (entry.type == BoxType("lpcm") && entry.version == 2) {
        constexpr uint32_t kBigEndianFlag = 2;
        channels = Be32(p + 40);
        bits = Be32(p + 48);
        bigEndian = (Be32(p + 52) & kBigEndianFlag) != 0;
        audio.bytesPerFrame = Be32(p + 60) == 1 ? Be32(p + 56) : 0;
    } else if (entry.type == BoxType("ipcm")) {
        const std::optional<Span> pcmc = Child(entry.children, BoxType("pcmC"));
        if (!pcmc || pcmc->size < 6)
            return false;
        bigEndian = (pcmc->bytes[4] & 1) == 0;
        bits = pcmc->bytes[5];
        audio.bytesPerFrame = channels * bits / 8;
    } else {
        return false;
    }
    if (bits == 16 && channels > 0) {
        audio.pcm.coding = SampleCoding::Pcm16;
        audio.pcm.channels = channels;
        audio.pcm.bigEndian = bigEndian;
    }
    audio.coding = AudioCoding::Pcm;
    return audio.bytesPerFrame > 0;
}

// A descriptor's tag and size at `at` of the elementary stream descriptor box.
bool Descriptor(Span span, size_t& at, uint8_t& tag, size_t& size) {
    if (at >= span.size)
        return false;
    tag = span.bytes[at++];
    size = 0;
    for (int i = 0; i < 4 && at < span.size; ++i) {
        const uint8_t byte = span.bytes[at++];
        size = size << 7 | (byte & 0x7Fu);
        if ((byte & 0x80) == 0)
            return size <= span.size - at;
    }
    return false;
}

// The AudioSpecificConfig in an esds payload.
std::optional<Span> DecoderConfig(Span esds) {
    size_t at = 4; // version and flags
    uint8_t tag = 0;
    size_t size = 0;
    if (!Descriptor(esds, at, tag, size) || tag != 3 || at + 3 > esds.size)
        return std::nullopt;
    const uint8_t flags = esds.bytes[at + 2];
    at += 3 + ((flags & 0x80) ? 2 : 0) + ((flags & 0x20) ? 2 : 0);
    if ((flags & 0x40) && at < esds.size)
        at += 1 + esds.bytes[at];
    constexpr size_t kConfigFields = 13;
    if (!Descriptor(esds, at, tag, size) || tag != 4 || size < kConfigFields)
        return std::nullopt;
    at += kConfigFields;
    if (!Descriptor(esds, at, tag, size) || tag != 5)
        return std::nullopt;
    return Span{esds.bytes + at, size};
}

std::vector<uint32_t> SampleSizes(Span trak) {
    const std::optional<Span> stsz = Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType("stsz")});
    std::vector<uint32_t> sizes;
    if (!stsz || stsz->size < 12 || Be32(stsz->bytes + 4) != 0)
        return sizes;
    const size_t count = std::min<size_t>(Be32(stsz->bytes + 8), (stsz->size - 12) / 4);
    for (size_t i = 0; i < count; ++i)
        sizes.push_back(Be32(stsz->bytes + 12 + 4 * i));
    return sizes;
}

std::optional<AacLayout> AacLayoutOfSound(const SoundEntry& entry) {
    std::optional<Span> esds = Child(entry.children, BoxType("esds"));
    if (const std::optional<Span> wave = Child(entry.children, BoxType("wave")); !esds && wave)
        esds = Child(*wave, BoxType("esds"));
    const std::optional<Span> config = esds ? DecoderConfig(*esds) : std::nullopt;
    return config ? AacLayoutOf(config->bytes, config->size) : std::nullopt;
}

bool ReadAac(const SoundEntry& entry, Span trak, AudioTemplate& audio) {
    const std::optional<AacLayout> layout = AacLayoutOfSound(entry);
    if (!layout)
        return false;
    audio.coding = AudioCoding::Aac;
    audio.aac = *layout;
    audio.aacSizes = AacFrameSizes(SampleSizes(trak));
    return true;
}

std::optional<AudioChunk> ReadChunk(AAA::Stream& stream, const AudioTemplate& audio, const Gap& gap, bool last) {
    if (gap.size > kLargestChunk)
        return std::nullopt;
    std::vector<uint8_t> bytes(static_cast<size_t>(gap.size));
    stream.Seek(static_cast<int64_t>(gap.offset), AAA::SeekBegin);
    if (stream.Read(bytes.data(), static_cast<uint32_t>(bytes.size())) != bytes.size())
        return std::nullopt;
    AudioChunk chunk{gap.offset, 0, 0, {}};
    if (audio.coding == AudioCoding::Aac) {
        const std::optional<std::vector<uint32_t>> frames = SplitAacFrames(
            audio.aac, bytes.data(), bytes.size(), last ? ChunkEnd::MayBeCut : ChunkEnd::Whole, audio.aacSizes);
        if (!frames)
            return std::nullopt;
        chunk.sizes = *frames;
        chunk.samples = static_cast<uint32_t>(frames->size());
        for (const uint32_t size : *frames)
            chunk.bytes += size;
        return chunk;
    }
    size_t size = bytes.size();
    // The end of a cut clip's data lies in a cluster whose rest is zeros or stale bytes.
    const auto silent = [&](size_t end) {
        return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(end - audio.bytesPerFrame),
                           bytes.begin() + static_cast<std::ptrdiff_t>(end), [](uint8_t b) { return b == 0; });
    };
    if (last)
        for (size -= size % audio.bytesPerFrame; size > 0 && silent(size);)
            size -= audio.bytesPerFrame;
    if (size % audio.bytesPerFrame != 0 ||
        (audio.pcm.coding == SampleCoding::Pcm16 && !PlausiblePcm(audio.pcm, bytes.data(), size)))
        return std::nullopt;
    chunk.bytes = static_cast<uint32_t>(size);
    chunk.samples = static_cast<uint32_t>(size / audio.bytesPerFrame);
    return chunk;
}

} // namespace

std::optional<AacLayout> AacLayoutOfEntries(const uint8_t* entries, size_t size) {
    const std::optional<SoundEntry> entry = SoundEntryAt(Span{entries, size});
    return entry && entry->type == BoxType("mp4a") ? AacLayoutOfSound(*entry) : std::nullopt;
}

std::optional<AudioTemplate> AudioTemplateOf(Span moov, const MovieTables& tables, uint16_t videoTrack) {
    const std::vector<Span> traks = Traks(moov);
    if (traks.size() != 2 || tables.tracks.size() != 2 || videoTrack > 1)
        return std::nullopt;
    AudioTemplate audio;
    audio.track = static_cast<uint16_t>(1 - videoTrack);
    const Span trak = traks[audio.track];
    const std::optional<SoundEntry> entry = HandlerOf(trak) == BoxType("soun") ? FirstSoundEntry(trak) : std::nullopt;
    if (!entry)
        return std::nullopt;
    if (!(entry->type == BoxType("mp4a") ? ReadAac(*entry, trak, audio) : ReadPcm(*entry, audio)))
        return std::nullopt;
    const auto stbl = [&](const char(&type)[5]) {
        return Path(trak, {BoxType("mdia"), BoxType("minf"), BoxType("stbl"), BoxType(type)});
    };
    const std::optional<Span> stts = stbl("stts"), stsz = stbl("stsz");
    audio.mediaScale = TimescaleOf(Path(trak, {BoxType("mdia"), BoxType("mdhd")}));
    if (!stts || stts->size < 16 || Be32(stts->bytes + 4) == 0 || !stsz || stsz->size < 12 || audio.mediaScale == 0)
        return std::nullopt;
    audio.delta = Be32(stts->bytes + 12);
    audio.sampleSize = Be32(stsz->bytes + 4);
    if (audio.coding == AudioCoding::Pcm && audio.sampleSize == 0)
        audio.sampleSize = audio.bytesPerFrame;
    return audio.delta > 0 ? std::optional(std::move(audio)) : std::nullopt;
}

std::optional<std::vector<AudioChunk>> FindAudioChunks(AAA::Stream& stream, const AudioTemplate& audio,
                                                       const std::vector<Gap>& gaps) {
    std::vector<AudioChunk> chunks;
    for (size_t i = 0; i < gaps.size(); ++i) {
        const bool last = i + 1 == gaps.size();
        std::optional<AudioChunk> chunk = ReadChunk(stream, audio, gaps[i], last);
        if (!chunk && !last)
            return std::nullopt;
        if (chunk && chunk->samples > 0)
            chunks.push_back(std::move(*chunk));
    }
    return chunks;
}

uint64_t AudioDuration(const AudioTemplate& audio, const std::vector<AudioChunk>& chunks) {
    uint64_t samples = 0;
    for (const AudioChunk& chunk : chunks)
        samples += chunk.samples;
    return samples * audio.delta;
}

void WriteAudioTables(BoxWriter& w, const AudioTemplate& audio, const std::vector<AudioChunk>& chunks) {
    uint32_t total = 0;
    for (const AudioChunk& chunk : chunks)
        total += chunk.samples;
    size_t at = w.Open(BoxType("stts"));
    w.U32(0);
    w.U32(1);
    w.U32(total);
    w.U32(audio.delta);
    w.Close(at);
    at = w.Open(BoxType("stsc"));
    w.U32(0);
    const size_t count = w.out.size();
    w.U32(0);
    uint32_t runs = 0;
    for (size_t i = 0; i < chunks.size(); ++i)
        if (i == 0 || chunks[i].samples != chunks[i - 1].samples) {
            w.U32(static_cast<uint32_t>(i + 1));
            w.U32(chunks[i].samples);
            w.U32(1);
            ++runs;
        }
    w.Patch32(count, runs);
    w.Close(at);
    at = w.Open(BoxType("stsz"));
    w.U32(0);
    w.U32(audio.coding == AudioCoding::Pcm ? audio.sampleSize : 0);
    w.U32(total);
    if (audio.coding == AudioCoding::Aac)
        for (const AudioChunk& chunk : chunks)
            for (const uint32_t size : chunk.sizes)
                w.U32(size);
    w.Close(at);
    std::vector<uint64_t> offsets;
    for (const AudioChunk& chunk : chunks)
        offsets.push_back(chunk.offset);
    w.ChunkOffsets(offsets);
}

} // namespace Kalvory
