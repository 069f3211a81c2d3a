#include "SectorSearch.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AVCHD_Files.h"
#include "AVCHD_ManagementFiles.h"
#include "DV_Files.h"
#include "DV_Icon.h"
#include "ISOBMFF_Boxes.h"
#include "M4ROOT_Sidecars.h"
#include "Picture_ClipThumbnail.h"
#include "Picture_Files.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

enum class NameStyle { Hex8, Hex7, Hex7Clip, Fixed };

bool StartsWith(const uint8_t* sector, uint32_t available, const char* text) {
    const size_t n = std::strlen(text);
    return available >= n && std::memcmp(sector, text, n) == 0;
}

std::string BaseName(NameStyle style, uint32_t sectorNumber, const char* fixed) {
    char text[32];
    switch (style) {
    case NameStyle::Hex8:
        std::snprintf(text, sizeof text, "%08X", sectorNumber);
        return text;
    case NameStyle::Hex7:
        std::snprintf(text, sizeof text, "%07X", sectorNumber);
        return text;
    case NameStyle::Hex7Clip:
        std::snprintf(text, sizeof text, "%07X1", sectorNumber);
        return text;
    case NameStyle::Fixed:
        break;
    }
    return fixed;
}

} // namespace

struct SectorSearcher::Row {
    const char* signature; // at the sector's start; null: `test` decides
    bool (*test)(const uint8_t* sector, size_t available);
    NameStyle style;
    const char* fixedName;
    const char* extension;
    RowLength length; // null: the clip handler measures and files the clip
};

// In the order of testing.
const SectorSearcher::Row SectorSearcher::kRows[] = {
    {"HDMV", nullptr, NameStyle::Hex8, nullptr, "CPI", &SectorSearcher::MeasureDeclared<ClipInformationLength>},
    {nullptr, IsAvchdPacket, NameStyle::Hex8, nullptr, "MTS", &SectorSearcher::MeasureStream},
    {"RIFF", nullptr, NameStyle::Hex7Clip, nullptr, "AVI", nullptr},
    {"<?xml ", nullptr, NameStyle::Hex7, nullptr, "XML", &SectorSearcher::MeasureXml},
    {"<?xml ", nullptr, NameStyle::Hex7, nullptr, "XML", &SectorSearcher::MeasureDeclared<ClipMetaLength>},
    {"BM", nullptr, NameStyle::Hex7, nullptr, "BMP", &SectorSearcher::MeasureDeclared<BitmapLength>},
    {"MPLS", nullptr, NameStyle::Hex8, nullptr, "MPL", &SectorSearcher::MeasureDeclared<PlaylistLength>},
    {"INDX", nullptr, NameStyle::Fixed, "INDEX", "BDM", &SectorSearcher::MeasureDeclared<IndexLength>},
    {"MOBJ", nullptr, NameStyle::Fixed, "MOVIEOBJ", "BDM", &SectorSearcher::MeasureDeclared<MovieObjectLength>},
    {"TIDX", nullptr, NameStyle::Fixed, "THUMB", "TID", &SectorSearcher::MeasureDeclared<ThumbnailIndexLength>},
    {"\xFF\xD8", nullptr, NameStyle::Hex8, nullptr, "JPG", &SectorSearcher::MeasureJpeg},
    {"\xFF\xD8", nullptr, NameStyle::Hex8, nullptr, "THM", &SectorSearcher::MeasureDeclared<ThumbnailJpegLength>},
    {nullptr, IsIsoMediaStart, NameStyle::Hex8, nullptr, "MP4", &SectorSearcher::MeasureDeclared<IsoMediaLength>},
};

// A first look that rules out almost every sector at once: no signature
// begins with its first byte and no row's own test passes.
bool SectorSearcher::MayHoldSignature(const uint8_t* sector, uint32_t available) {
    using Test = bool (*)(const uint8_t*, size_t);
    struct FirstLook {
        std::array<bool, 256> firstBytes{};
        std::vector<Test> tests;
    };
    static const FirstLook look = [] {
        FirstLook made;
        for (const Row& row : kRows) {
            if (row.signature != nullptr)
                made.firstBytes[static_cast<uint8_t>(row.signature[0])] = true;
            else
                made.tests.push_back(row.test);
        }
        return made;
    }();
    if (look.firstBytes[sector[0]])
        return true;
    return std::any_of(look.tests.begin(), look.tests.end(), [&](Test test) { return test(sector, available); });
}

CarvingFormats KnownCarvingFormats() {
    CarvingFormats formats;
    formats.clip = &CarveDvClip;
    formats.xmlLength = &XmlLength;
    formats.jpegLength = &CheckAsJpeg;
    return formats;
}

SectorSearcher::SectorSearcher(FSAccessLib::FSAccessBase& reader, DirEntry& root, CarvingFormats formats,
                               FoundFolders foundFolders)
    : reader_(reader), root_(root), formats_(formats), foundFolders_(foundFolders), coverage_(root) {}

int SectorSearch(FSAccessLib::FSAccessBase& reader, DirEntry& root, FoundFolders foundFolders) {
    SectorSearcher searcher(reader, root, KnownCarvingFormats(), foundFolders);
    return searcher.Run();
}

SearchRange SectorSearcher::VolumeRange() const {
    SearchRange range;
    range.begin = reader_.startOfDataArea;
    range.end = reader_.ReadableEnd(); // an image that ends early is searched as far as it goes
    range.fileEnd = reader_.totalBytes;
    range.step = std::max<uint32_t>(reader_.searchStep, 1);
    range.nameSectorBytes = std::max<uint32_t>(reader_.sectorSize, 1);
    return range;
}

int SectorSearcher::Run() { return Run(VolumeRange()); }

int SectorSearcher::Run(const SearchRange& range) {
    range_ = range;
    range_.step = std::max<uint32_t>(range_.step, 1);
    range_.nameSectorBytes = std::max<uint32_t>(range_.nameSectorBytes, 1);
    const uint64_t step = range_.step;
    // A chunk the card fails to give is read again sector by sector by the
    // stream; zeros stand in for the bad sectors, which no signature matches.
    const uint64_t unreadableBefore = reader_.stream->Unreadable().Bytes();
    int count = 0;
    for (uint64_t position = range_.begin; position < range_.end;) {
        uint64_t advance = 0;
        count += ScanChunk(position, advance);
        position += advance < step ? step : (advance + step - 1) / step * step;
    }
    reader_.stream->LimitReadAhead(UINT64_MAX);
    if (const uint64_t stepped = reader_.stream->Unreadable().Bytes() - unreadableBefore; stepped > 0)
        AAA::DebugLog(3, "Sector search: stepped over %I64d unreadable bytes\n", stepped);
    return count;
}

uint32_t SectorSearcher::LoadChunk(uint64_t position) {
    chunk_.resize(kSearchChunkBytes);
    // Never past the range: the volume's data, or one stretch of the card
    // outside it; nor far into a file the tree covers, which others read.
    uint64_t reach = range_.end - position;
    const uint64_t covered = coverage_.NextCoveredAfter(position);
    if (covered > position)
        reach = std::min(reach, covered - position + kLookahead);
    reader_.stream->LimitReadAhead(covered > position ? covered : UINT64_MAX);
    const auto wanted = static_cast<uint32_t>(std::min<uint64_t>(kSearchChunkBytes, reach));
    // After a file that ended inside this chunk, the bytes after it are here
    // already; only the rest is read (one seek, one read).
    uint32_t kept = 0;
    if (chunkStart_ < position && position < chunkStart_ + chunkBytes_) {
        kept = std::min<uint32_t>(static_cast<uint32_t>(chunkStart_ + chunkBytes_ - position), wanted);
        std::memmove(chunk_.data(), chunk_.data() + (position - chunkStart_), kept);
    }
    chunkStart_ = position;
    // Enough kept bytes are scanned before any more are read: a file found
    // among them may cover what follows, which the scan then never reads.
    if (kept >= 2 * kLookahead && kept < wanted) {
        chunkBytes_ = kept;
        scanEnd_ = kept - kLookahead;
        return chunkBytes_;
    }
    uint32_t got = 0;
    if (kept < wanted) {
        reader_.stream->Seek(static_cast<int64_t>(position + kept), AAA::SeekBegin);
        got = reader_.stream->Read(chunk_.data() + kept, wanted - kept);
    }
    chunkBytes_ = kept + got;
    scanEnd_ = chunkBytes_;
    return chunkBytes_;
}

uint64_t SectorSearcher::SkipCovered(uint64_t position) {
    const uint64_t step = range_.step;
    uint64_t at = position;
    uint64_t coveredEnd = 0;
    while (at < range_.end && coverage_.Covered(at, coveredEnd) && !MayBeginClip(at))
        at += (coveredEnd - at + step - 1) / step * step;
    return at - position;
}

bool SectorSearcher::MayBeginClip(uint64_t offset) {
    if (formats_.clip == nullptr)
        return false;
    if (chunkStart_ <= offset && offset + 4 <= chunkStart_ + chunkBytes_)
        return StartsWith(chunk_.data() + (offset - chunkStart_), 4, "RIFF");
    uint8_t head[4] = {};
    const std::optional<size_t> got = reader_.stream->Peek(offset, head, sizeof head);
    return !got || StartsWith(head, static_cast<uint32_t>(*got), "RIFF"); // unknown: look as before
}

int SectorSearcher::ScanChunk(uint64_t position, uint64_t& advance) {
    if (const uint64_t skipped = SkipCovered(position); skipped > 0) {
        advance = skipped;
        return 0;
    }
    const uint32_t bytes = LoadChunk(position);
    if (bytes == 0)
        return 0;
    const uint32_t step = range_.step;
    for (uint32_t offset = 0; offset < scanEnd_; offset += step) {
        advance = offset;
        ++sectorsTested_;
        const uint8_t* sector = chunk_.data() + offset;
        const uint32_t available = bytes - offset;
        uint64_t coveredEnd = 0;
        if (coverage_.Covered(position + offset, coveredEnd)) {
            // A clip the directories found with scattered data is still
            // parsed, so that its extents are filled in.
            if (StartsWith(sector, available, "RIFF")) {
                if (const int made = RunClipHandler(position, advance); made != 0)
                    return made;
            }
            advance = coveredEnd - position;
            return 0;
        }
        if (foundFolders_ == FoundFolders::Read)
            ReadFoundFolder(sector, available, position + offset);
        if (coverage_.Covered(position + offset, coveredEnd)) {
            advance = coveredEnd - position; // a folder just read covers this sector
            return 0;
        }
        if (const int made = TestSector(sector, available, position, advance); made != 0)
            return made;
    }
    advance = (scanEnd_ + step - 1) / step * step;
    return 0;
}

int SectorSearcher::TestSector(const uint8_t* sector, uint32_t available, uint64_t position, uint64_t& advance) {
    if (!MayHoldSignature(sector, available))
        return 0;
    const uint64_t start = position + advance;
    for (const Row& row : kRows) {
        const bool matches =
            row.signature != nullptr ? StartsWith(sector, available, row.signature) : row.test(sector, available);
        if (!matches)
            continue;
        if (row.length == nullptr) {
            if (const int made = RunClipHandler(position, advance); made != 0)
                return made;
            continue;
        }
        // The chunk is the stream's read-ahead, so measuring from inside it reads nothing twice.
        reader_.stream->AdoptHeld(chunkStart_, chunk_.data(), chunkBytes_);
        AAA::CaptureScope capture(reader_.capture, *reader_.stream, start);
        const uint64_t measured = (this->*row.length)(start);
        // A length that runs past the range's bound (the volume, or the card
        // when it is scanned whole) is no file: what lies beyond is not the
        // card's data, and taking it would skip everything after it.
        const uint64_t length = measured <= range_.fileEnd - std::min(start, range_.fileEnd) ? measured : 0;
        if (length == 0)
            continue;
        capture.Finish(length);
        advance += length;
        return AddCarvedEntry(row, start, length);
    }
    return 0;
}

int SectorSearcher::RunClipHandler(uint64_t position, uint64_t& advance) {
    if (formats_.clip == nullptr)
        return 0;
    const uint64_t offset = advance;
    const size_t before = root_.children.size();
    const uint32_t sectorNumber = NameSector(position + offset);
    reader_.stream->AdoptHeld(chunkStart_, chunk_.data(), chunkBytes_);
    AAA::CaptureScope capture(reader_.capture, *reader_.stream, position + offset);
    const int made =
        formats_.clip(*reader_.stream, root_, position, advance, BaseName(NameStyle::Hex7Clip, sectorNumber, nullptr));
    capture.Finish(made != 0 || advance != offset ? AAA::FileCapture::kNotOneRun : 0);
    // A clip may also complete the extents of entries the directories found.
    if (advance != offset)
        coverage_.Rebuild();
    else if (made != 0)
        coverage_.ChildrenAppended(before);
    if (made != 0)
        return made;
    // Found, but every entry existed: the scan goes on with the next sector,
    // which those entries now cover.
    advance = offset;
    return 0;
}

void SectorSearcher::ReadFoundFolder(const uint8_t* sector, uint32_t available, uint64_t start) {
    const uint64_t cluster = std::max<uint32_t>(reader_.clusterSize, 1);
    if (start < reader_.startOfDataArea || (start - reader_.startOfDataArea) % cluster != 0 ||
        !reader_.BeginsFolder(sector, available, start))
        return;
    const size_t before = root_.children.size();
    uint64_t size = 0;
    try {
        if (reader_.AddFoundDirectory(root_, start, size) > 0)
            coverage_.ChildrenAppended(before);
    } catch (const AAA::VerifyExceptionBase&) {
        // A damaged found folder costs only itself: nothing of it was added.
        AAA::DebugLog(3, "found folder at 0x%016I64X could not be read; skipped\n", start);
    }
}

template <LengthFunction declared>
uint64_t SectorSearcher::MeasureDeclared(uint64_t start) {
    return declared(*reader_.stream, start);
}

uint64_t SectorSearcher::MeasureStream(uint64_t start) {
    return MtsLength(*reader_.stream, start, reader_.sectorSize, streamBuffer_);
}

uint64_t SectorSearcher::MeasureXml(uint64_t start) {
    return formats_.xmlLength ? formats_.xmlLength(*reader_.stream, start) : 0;
}

uint64_t SectorSearcher::MeasureJpeg(uint64_t start) {
    return formats_.jpegLength ? formats_.jpegLength(*reader_.stream, start) : 0;
}

uint32_t SectorSearcher::NameSector(uint64_t offset) const {
    const auto named = static_cast<uint64_t>(static_cast<int64_t>(offset) + range_.nameShift);
    return static_cast<uint32_t>(named / range_.nameSectorBytes);
}

int SectorSearcher::AddCarvedEntry(const Row& row, uint64_t start, uint64_t length) {
    const uint32_t sectorNumber = NameSector(start);
    DirEntry entry(BaseName(row.style, sectorNumber, row.fixedName), row.extension);
    entry.start = start;
    entry.length = length;
    entry.isDirectory = false;
    entry.carved = true;
    const size_t before = root_.children.size();
    root_.children.push_back(std::move(entry));
    root_.Relink(nullptr);
    AAA::DebugLog(7, "Start=0x%016I64X, Size=0x%08I64X, ", start, length);
    AAA::DebugLog(7, "%s\n", root_.children.back().name);
    coverage_.ChildrenAppended(before);
    return 1;
}

} // namespace Kalvory
