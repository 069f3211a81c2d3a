#pragma once
// The XML a Sony camcorder writes beside each XAVC S clip (C0001M01.XML, a
// NonRealTimeMeta document): its length when carved, and its place beside
// the clip it follows on the card; the clip's thumbnail goes to THMBNL.
#include <cstdint>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"

namespace Kalvory {

// The length of the NonRealTimeMeta document at `start`, through its end tag
// and the line end after it; 0 when there is none.
uint64_t ClipMetaLength(AAA::Stream& stream, uint64_t start);

// A filed clip: its entry in CLIP and where its carved data began on the card.
struct FiledClip {
    uint64_t start;
    uint32_t number;
    FSAccessLib::DirEntry* folder; // CLIP
};

// Files every carved clip document under the root beside the filed clip
// that precedes it on the card, as C0001M01.XML; the carved entry is
// unselected. Returns the documents filed.
int FileClipSidecars(AAA::Stream& stream, FSAccessLib::DirEntry& root, const std::vector<FiledClip>& clips);

struct ClipThumbnail {
    uint32_t number;  // of the filed clip
    size_t picture;   // the carved picture's index among the root's children
};

// Files each picture as THMBNL/C0001T01.JPG beside CLIP (made when missing),
// but where a file of that name is there already. The indices of the
// pictures filed are appended to `moved`; the root keeps them until the
// caller removes them. Returns the pictures filed.
int FileClipThumbnails(FSAccessLib::DirEntry& root, const std::vector<ClipThumbnail>& thumbnails,
                       std::vector<size_t>& moved);

} // namespace Kalvory
