#pragma once
// The sector search over a whole card: a volume read inside a card leaves
// the card's other bytes (before the partition, after it, between
// partitions that hold no volume) unread by the file system, and old media
// lies there after a new format. The scanning modes read them too, in card
// order, each byte once: the stretches before the volume, the volume, the
// stretches after it. Those before the volume are reached through the
// stream's card window.
#include <cstdint>
#include <vector>

#include "AAA_ByteRanges.h"
#include "DirEntry.h"
#include "FSAccessBase.h"
#include "Kalvory_Volume.h"
#include "SectorSearch.h"

namespace Kalvory {

// Where a recovery's stream offsets lie on the card.
struct CardPlace {
    uint64_t volumeOffset = 0;
    bool window = false; // the card window is open: offsets from kCardWindow are the card's own

    uint64_t CardOffset(uint64_t streamOffset) const;
    // From the volume's start: negative for bytes before it, the volume's
    // size or more for bytes after it.
    int64_t VolumeOffset(uint64_t streamOffset) const;
};
CardPlace PlaceOf(const FSAccessLib::FSAccessBase& reader);

// The card's stretches, in card offsets and card order, that lie outside the
// volume read (of `volumeBytes`) and outside every other volume of the
// table. None for a bare volume or a card scanned raw.
std::vector<AAA::ByteRange> CardGaps(const SourceLayout& layout, uint64_t volumeBytes);

// The sector search over the volume and, when it lies inside a whole card,
// over the card's gaps as 512-byte sectors (found folders are read in the
// volume only). Records the gaps read in `layout`; returns the entries made.
int ScanCard(FSAccessLib::FSAccessBase& reader, FSAccessLib::DirEntry& root, SourceLayout& layout,
             FoundFolders foundFolders);

// Where reading from stream offset `start` stops: the card's end for bytes
// the card scan reached (through the window, or past the volume), else the
// volume's readable end.
uint64_t ReadEnd(const FSAccessLib::FSAccessBase& reader, const SourceLayout& layout, uint64_t start);
// The end of what a target's extents may name, for the copy: the volume's
// size, or the card's end (in the volume's offsets) when the card was scanned.
uint64_t MediaEnd(const FSAccessLib::FSAccessBase& reader, const SourceLayout& layout);

} // namespace Kalvory
