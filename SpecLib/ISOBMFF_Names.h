#pragma once
// Where carved ISO media clips go: XAVC S clips into the camcorder's own
// PRIVATE/M4ROOT/CLIP folder after the clip numbers already there, every
// other MP4 or MOV into the DCF tree with the stills.
#include "AAA_Stream.h"
#include "AAA_WideString.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

// Whether a file of this name is an ISO media file (MP4, MOV, M4V, 3GP, LRV).
bool IsIsoMediaName(const AAA::WString& name);

struct IsoMediaFiling {
    int clips = 0;    // filed under PRIVATE/M4ROOT/CLIP
    int sidecars = 0; // their XML documents filed beside them
    int thumbnails = 0; // their pictures filed under THMBNL
    int companions = 0; // thumbnails and low-resolution copies named after clips bound for DCIM
    int partial = 0;  // whose fragments were not all found
    int repaired = 0; // their moov rebuilt from another clip's
    int dropped = 0;  // carved heads whose moov was never found nor rebuilt
};

// Completes every carved clip under the root from its sample tables, files
// the XAVC S ones as C0001.MP4, ... (the first number after the highest one
// in CLIP) with the XML documents and thumbnails (THMBNL/C0001T01.JPG) found
// after them, names the others by their brand (.MOV for QuickTime) for the
// DCF step, their thumbnails and low-resolution copies after them (.THM,
// .LRV), and unselects clips
// whose moov was neither found nor rebuilt from a clip of the same brand. The
// tree is relinked.
IsoMediaFiling RenameAndMoveIsoMediaFiles(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                          FSAccessLib::DirEntry& root);

} // namespace Kalvory
