#pragma once
// Finds media files the file system no longer describes: reads the volume's
// data area in 1 MiB chunks and tests the start of every sector for the
// signatures of the files camcorders write. Each hit's length comes from the
// file's own headers; the file becomes a carved entry under the root, and the
// scan resumes after it. Sectors any entry of the tree covers are skipped.
#include <cstdint>
#include <string>
#include <vector>

#include "AAA_Stream.h"
#include "CoverageCursor.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

constexpr uint32_t kSearchChunkBytes = 0x100000;

// A length function: the length of the file of its type at `start`, 0 when
// there is none (or it cannot be read).
using LengthFunction = uint64_t (*)(AAA::Stream& stream, uint64_t start);
// The clip handler: parses the clip at position + advance, makes or completes
// its entries under `root`, adds the clip's length to `advance` when it found
// one, and returns the number of entries it made.
using ClipHandler = int (*)(AAA::Stream& stream, FSAccessLib::DirEntry& root, uint64_t position, uint64_t& advance,
                            const std::string& baseName);

// The formats other parts of the media knowledge plug into the signature
// table: "RIFF" clips, "<?xml " clip descriptions and 0xFF 0xD8 stills. A
// row without its function finds nothing.
struct CarvingFormats {
    ClipHandler clip = nullptr;
    LengthFunction xmlLength = nullptr;
    LengthFunction jpegLength = nullptr;
};
// Every format this build knows.
CarvingFormats KnownCarvingFormats();

// Whether the scan reads the folders it meets at cluster starts (after a
// format their clusters still hold the names and places of their files).
enum class FoundFolders { Ignore, Read };

// A stretch of the stream one search reads, in stream offsets, and how its
// finds are bounded and named. The volume's data area is the default; a
// whole card's bytes outside the volume are read as 512-byte sectors.
struct SearchRange {
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t fileEnd = 0; // no carved file runs past it
    uint32_t step = 512;
    // Finds are named by the sector, of `nameSectorBytes`, at offset + nameShift.
    int64_t nameShift = 0;
    uint32_t nameSectorBytes = 512;
};

class SectorSearcher {
public:
    SectorSearcher(FSAccessLib::FSAccessBase& reader, FSAccessLib::DirEntry& root,
                   CarvingFormats formats = KnownCarvingFormats(), FoundFolders foundFolders = FoundFolders::Ignore);

    // Scans from the data area to the end of the volume; returns the entries made.
    int Run();
    int Run(const SearchRange& range);
    // The data area to the readable end, finds bounded by the volume.
    SearchRange VolumeRange() const;

    uint64_t SectorsTested() const { return sectorsTested_; }
    size_t CoverageQueries() const { return coverage_.IndexQueries(); }

private:
    // One carving format: how a sector shows it and how long its file is.
    struct Row;
    static const Row kRows[];
    using RowLength = uint64_t (SectorSearcher::*)(uint64_t start);

    int ScanChunk(uint64_t position, uint64_t& advance);
    // How far the stretches the tree covers reach from `position`, passed
    // without reading them: the judge and the save read those files.
    uint64_t SkipCovered(uint64_t position);
    // Whether a covered stretch at `offset` may begin a clip whose extents the
    // clip handler fills in (then it is scanned as before).
    bool MayBeginClip(uint64_t offset);
    // Fills the chunk buffer for `position`, keeping bytes already read.
    uint32_t LoadChunk(uint64_t position);
    // Bytes a sector's tests may look at past it, at the least.
    static constexpr uint32_t kLookahead = 64 * 1024;
    static bool MayHoldSignature(const uint8_t* sector, uint32_t available);
    int TestSector(const uint8_t* sector, uint32_t available, uint64_t position, uint64_t& advance);
    int RunClipHandler(uint64_t position, uint64_t& advance);
    // Reads the folder whose first cluster starts at `start`, if one does.
    void ReadFoundFolder(const uint8_t* sector, uint32_t available, uint64_t start);
    // The rows' length functions. A length a header declares must fit the volume.
    template <LengthFunction declared>
    uint64_t MeasureDeclared(uint64_t start);
    uint64_t MeasureStream(uint64_t start);
    uint64_t MeasureXml(uint64_t start);
    uint64_t MeasureJpeg(uint64_t start);
    int AddCarvedEntry(const Row& row, uint64_t start, uint64_t length);
    uint32_t NameSector(uint64_t offset) const;

    FSAccessLib::FSAccessBase& reader_;
    FSAccessLib::DirEntry& root_;
    CarvingFormats formats_;
    FoundFolders foundFolders_;
    CoverageCursor coverage_;
    std::vector<uint8_t> chunk_;
    uint64_t chunkStart_ = 0;
    uint32_t scanEnd_ = 0; // the chunk's sectors from here on wait for the next load, which reads more
    uint32_t chunkBytes_ = 0;
    std::vector<uint8_t> streamBuffer_;
    uint64_t sectorsTested_ = 0;
    SearchRange range_;
};

// One search over the reader's volume, adding what it finds below `root`.
int SectorSearch(FSAccessLib::FSAccessBase& reader, FSAccessLib::DirEntry& root,
                 FoundFolders foundFolders = FoundFolders::Ignore);

} // namespace Kalvory
