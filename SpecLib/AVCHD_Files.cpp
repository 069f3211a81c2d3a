#include "AVCHD_Files.h"

#include <algorithm>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "EntryNameRule.h"
#include "TreeFolders.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

constexpr const char* kSourceFile = "SpecLib/AVCHD_Files";

constexpr uint16_t kKnownPids[] = {0x0000, 0x001F, 0x0100, 0x1001, 0x1011, 0x1100, 0x1101, 0x1102,
                                   0x1103, 0x1200, 0x1201, 0x1400, 0x1401, 0x1FFF};

uint32_t ArrivalTime(const uint8_t* packet) {
    const uint32_t header = uint32_t{packet[0]} << 24 | uint32_t{packet[1]} << 16 | uint32_t{packet[2]} << 8 | packet[3];
    return header & kAtsMask;
}

bool Fail(const char* why) {
    AAA::DebugLog(7, "%S\n", why);
    return false;
}

// The middle packet of a failing window starts on a sector boundary or spans one.
bool MiddlePacketMeetsBoundary(uint64_t middle, uint32_t sectorSize) {
    if (sectorSize == 0)
        return false;
    const uint64_t into = middle % sectorSize;
    return into == 0 || into + kSourcePacketBytes > sectorSize;
}

[[noreturn]] void ThrowNoFolder(int line) {
    AAA::ThrowLogged<AAA::InvalidDataException>(kSourceFile, line, "AAA::InvalidDataException()");
}

bool Contains(const AAA::WString& name, const char16_t* part) { return name.find(part) != AAA::WString::npos; }

} // namespace

bool IsAvchdPacket(const uint8_t* sector, size_t available) {
    if (available < 7 || sector[4] != 0x47)
        return false;
    const auto pid = static_cast<uint16_t>((sector[5] << 8 | sector[6]) & 0x1FFF);
    return std::find(std::begin(kKnownPids), std::end(kKnownPids), pid) != std::end(kKnownPids);
}

bool CheckSourcePackets(const uint8_t* k0, const uint8_t* k1, const uint8_t* k2, bool firstWindow) {
    if (k0[4] != 0x47 || k1[4] != 0x47 || k2[4] != 0x47)
        return Fail("No TSP came");
    const uint32_t a = ArrivalTime(k0);
    const uint32_t b = ArrivalTime(k1);
    const uint32_t c = ArrivalTime(k2);
    if (b == 0 || c == 0 || (a == 0 && !firstWindow))
        return Fail("ATS=0 came");
    if (b < c)
        return true;
    // The 30-bit counter may wrap between the two: then the gap is small.
    if (a < b && uint64_t{c} + kAtsMask - b < kAtsWrapGapLimit)
        return true;
    return Fail("ATS jumped");
}

uint64_t MtsLength(AAA::Stream& stream, uint64_t start, uint32_t sectorSize, std::vector<uint8_t>& buffer) {
    AAA::DebugLog(7, "MTS(0x%I64X): ", start);
    buffer.resize(kStreamReadBytes);
    uint64_t length = 0;
    for (;;) {
        stream.Seek(static_cast<int64_t>(start + length), AAA::SeekBegin);
        const uint32_t n = stream.Read(buffer.data(), kStreamReadBytes);
        if (n < kPacketWindowBytes) {
            AAA::DebugLog(7, "Media End\n");
            break;
        }
        uint32_t k = 2 * kSourcePacketBytes;
        bool failed = false;
        for (; k < n; k += kSourcePacketBytes) {
            const uint8_t* third = buffer.data() + k;
            // A third packet cut off by the end of the medium never passes.
            if (k + kSourcePacketBytes > n) {
                failed = Fail("Media End");
                break;
            }
            if (!CheckSourcePackets(third - 2 * kSourcePacketBytes, third - kSourcePacketBytes, third,
                                    length == 0 && k == 2 * kSourcePacketBytes)) {
                failed = true;
                break;
            }
        }
        if (failed) {
            if (MiddlePacketMeetsBoundary(length + k - kSourcePacketBytes, sectorSize))
                k -= kSourcePacketBytes;
            if (k >= kPacketWindowBytes)
                length += k;
            break;
        }
        if (k > n)
            k -= kSourcePacketBytes;
        length += k;
    }
    AAA::DebugLog(7, "\t0x%08I64X\n", length);
    return length;
}

bool IsPlausibleMts(AAA::Stream& stream, uint64_t start, uint64_t length) {
    if (length < kSmallestPlausibleStream)
        return false;
    // Its first min(length, one stream read) bytes must be readable; read in
    // small pieces, as only the count matters.
    const uint64_t needed = std::min<uint64_t>(length, kStreamReadBytes);
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    uint8_t piece[65536];
    for (uint64_t got = 0; got < needed;) {
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(sizeof piece, needed - got));
        const uint32_t n = stream.Read(piece, want);
        got += n;
        if (n < want)
            return got >= needed;
    }
    return true;
}

void RenameAndMoveAvchdFiles(DirEntry& root) {
    if (!FindOrMakeFolder(root, u"PRIVATE", u"") || !FindOrMakeFolder(root, u"AVCHD", u"PRIVATE") ||
        !FindOrMakeFolder(root, u"BDMV", u"AVCHD"))
        ThrowNoFolder(__LINE__);
    const FSAccessLib::EntryNameRule& rule = FSAccessLib::AvchdStreamRule();
    uint32_t counter = rule.min1;
    NameSet taken;
    bool streamNamesKnown = false;
    // Only the children there now: a STREAM folder directly under the root
    // grows this very list.
    const size_t children = root.children.size();
    for (size_t i = 0; i < children; ++i) {
        DirEntry& entry = root.children[i];
        if (!entry.carved || !entry.target || entry.isDirectory)
            continue;
        if (!Contains(entry.name, u"MTS")) {
            if (Contains(entry.name, u"CPI") || Contains(entry.name, u"MPL") || Contains(entry.name, u"BDM") ||
                Contains(entry.name, u"TID"))
                entry.target = false; // carved management files are not recovered
            continue;
        }
        DirEntry* stream = FindOrMakeFolder(root, u"STREAM", u"BDMV");
        if (stream == nullptr)
            ThrowNoFolder(__LINE__);
        if (!streamNamesKnown) {
            taken = ChildNames(*stream);
            streamNamesKnown = true;
        }
        const AAA::WString name = FirstFreeName(rule, counter, taken);
        if (name.empty()) {
            // Every name is taken: the stream keeps its carved name where it is.
            AAA::DebugLog(3, "%s: no free stream name is left; kept as it is\n", entry.name);
            continue;
        }
        entry.name = name;
        taken.insert(name);
        DirEntry moved = entry;
        entry.target = false;
        stream->children.push_back(std::move(moved));
    }
    root.Relink(nullptr);
}

} // namespace Kalvory
