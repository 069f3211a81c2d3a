#include "ContentJudge.h"

#include <algorithm>
#include <cstring>

#include "AVCHD_Files.h"
#include "AVCHD_Fragments.h"
#include "AVCHD_ManagementFiles.h"
#include "DV_Icon.h"
#include "EntryDataStream.h"
#include "Picture_Files.h"
#include "Picture_ScanWalk.h"

namespace Kalvory {

AAA::WString UpperExtension(const AAA::WString& name) {
    const size_t dot = name.rfind(u'.');
    AAA::WString extension = dot == AAA::WString::npos ? AAA::WString() : name.substr(dot + 1);
    for (char16_t& c : extension)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return extension;
}

namespace {

using FSAccessLib::DirEntry;

bool ReadAt(AAA::Stream& data, uint64_t at, uint8_t* bytes, uint32_t count) {
    data.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
    return data.Read(bytes, count) == count;
}

uint32_t Le32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}

// A picture whose every restart interval is known must hold them all in
// their order: a foreign cluster inside its scan breaks them even where its
// bytes look like entropy-coded data.
// Read a piece at a time: most pictures show at their scan's start that they have no restarts.
uint64_t RestartsMatching(EntryDataStream& data, uint64_t length, std::vector<uint8_t>& buffer) {
    constexpr uint64_t kPiece = 64 * 1024;
    JpegScanWalk walk(length, Spacing::Free);
    buffer.resize(kPiece);
    data.Seek(0, AAA::SeekBegin);
    for (uint64_t at = 0; at < length;) {
        const uint32_t n = data.Read(buffer.data(), static_cast<uint32_t>(std::min(kPiece, length - at)));
        if (n == 0)
            return at;
        if (walk.Feed(buffer.data(), n) == ScanStep::Refuted)
            return walk.Strict() ? std::min(walk.Position(), length) - 1 : length;
        if (walk.InScan() && !walk.Strict())
            return length;
        at += n;
    }
    return length;
}

uint64_t JpegMatching(EntryDataStream& data, uint64_t length, std::vector<uint8_t>& buffer) {
    uint8_t soi[2] = {};
    if (!ReadAt(data, 0, soi, 2) || soi[0] != 0xFF || soi[1] != 0xD8)
        return 0;
    uint64_t confirmed = 0;
    const uint64_t walked = WalkJpegMarkers(data, 0, &confirmed);
    if (walked == length)
        return RestartsMatching(data, length, buffer);
    return std::min(walked != 0 ? walked : confirmed, length);
}

// Packet by packet, read a stream buffer at a time; a cut last packet is not judged.
uint64_t StreamMatching(EntryDataStream& data, uint64_t length, std::vector<uint8_t>& buffer) {
    buffer.resize(kStreamReadBytes);
    uint64_t at = 0;
    bool first = true;
    uint32_t last = 0;
    while (at + kSourcePacketBytes <= length) {
        data.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        const uint32_t n = data.Read(buffer.data(), kStreamReadBytes);
        if (n < kSourcePacketBytes)
            return at;
        for (uint32_t k = 0; k + kSourcePacketBytes <= n; k += kSourcePacketBytes, at += kSourcePacketBytes) {
            const uint8_t* packet = buffer.data() + k;
            const uint32_t ats = PacketAts(packet);
            if (packet[4] != 0x47 || (!first && !AtsContinues(last, ats)))
                return at;
            first = false;
            last = ats;
        }
    }
    return length;
}

bool IsChunkId(const uint8_t* id) {
    return std::all_of(id, id + 4, [](uint8_t c) { return c >= 0x20 && c <= 0x7E; });
}

// RIFF chunks one after the other (an OpenDML AVI continues in "RIFF" AVIX
// chunks), each filled by chunks whose sizes end where it ends. A header
// that fails says only that the foreign data began after the last good one.
uint64_t RiffMatching(EntryDataStream& data, uint64_t length) {
    uint64_t verified = 0; // the end of the last header that held
    for (uint64_t riff = 0; riff < length;) {
        uint8_t head[12] = {};
        if (!ReadAt(data, riff, head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0)
            return verified;
        const uint64_t end = riff + 8 + Le32(head + 4);
        if (end > length)
            return verified;
        verified = riff + 12;
        for (uint64_t chunk = riff + 12; chunk < end;) {
            uint8_t header[8] = {};
            if (chunk + 8 > end || !ReadAt(data, chunk, header, sizeof header) || !IsChunkId(header))
                return verified;
            const uint64_t size = Le32(header + 4);
            const uint64_t next = chunk + 8 + size + (size & 1);
            if (next > end + (size & 1))
                return verified;
            verified = chunk + 8;
            chunk = next;
        }
        riff = end + (end & 1);
    }
    return length;
}

uint64_t ManagementMatching(EntryDataStream& data, uint64_t length) {
    uint8_t signature[4] = {};
    if (!ReadAt(data, 0, signature, 4))
        return 0;
    using LengthFunction = uint64_t (*)(AAA::Stream&, uint64_t);
    static const std::pair<const char*, LengthFunction> kKinds[] = {
        {"HDMV", ClipInformationLength}, {"MPLS", PlaylistLength},        {"INDX", IndexLength},
        {"MOBJ", MovieObjectLength},     {"TIDX", ThumbnailIndexLength},
    };
    for (const auto& [text, measure] : kKinds)
        if (std::memcmp(signature, text, 4) == 0)
            return measure(data, 0) == length ? length : 0;
    return 0;
}

} // namespace

ContentCheck CheckFor(const AAA::WString& name) {
    const AAA::WString extension = UpperExtension(name);
    if (extension == u"JPG" || extension == u"JPEG")
        return ContentCheck::Jpeg;
    if (extension == u"MTS" || extension == u"M2TS")
        return ContentCheck::Stream;
    if (extension == u"AVI")
        return ContentCheck::Riff;
    if (extension == u"BMP")
        return ContentCheck::Bitmap;
    if (extension == u"CPI" || extension == u"MPL" || extension == u"BDM" || extension == u"TID")
        return ContentCheck::Management;
    return ContentCheck::None;
}

bool JudgedByContent(const DirEntry& entry) {
    return !entry.isDirectory && (entry.deleted || entry.unallocated || entry.fromFoundFolder);
}

uint64_t MatchingBytes(AAA::Stream& volume, const DirEntry& entry, std::vector<uint8_t>& buffer) {
    const ContentCheck check = CheckFor(entry.name);
    if (check == ContentCheck::None || entry.length == 0)
        return entry.length;
    EntryDataStream data(volume, entry);
    const uint64_t length = static_cast<uint64_t>(data.Length());
    uint64_t matching = length;
    switch (check) {
    case ContentCheck::Jpeg:
        matching = JpegMatching(data, length, buffer);
        break;
    case ContentCheck::Stream:
        matching = StreamMatching(data, length, buffer);
        break;
    case ContentCheck::Riff:
        matching = RiffMatching(data, length);
        break;
    case ContentCheck::Bitmap:
        matching = BitmapLength(data, 0) == length ? length : 0;
        break;
    case ContentCheck::Management:
        matching = ManagementMatching(data, length);
        break;
    case ContentCheck::None:
        break;
    }
    // Data the tree holds less of (a stream kept up to what its packets vouch for) is judged as far as it goes.
    return matching >= length ? entry.length : matching;
}

} // namespace Kalvory
