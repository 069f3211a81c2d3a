#pragma once
// An ISO media clip taken as one run from its first cluster holds foreign
// clusters when it was written in fragments: its top-level walk lands in
// other data after the mdat. Its moov, found by itself where the file puts
// it inside a cluster, tells through its sample tables which sample begins
// where; each cluster-sized step of the file is the cluster whose bytes begin
// the samples expected there.
#include <cstdint>

#include "AAA_Stream.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

enum class IsoMediaFragments {
    Whole,     // the run from its start holds it all, its samples where the tables say
    Stitched,  // its chain now holds the fragments, in order
    Partial,   // no cluster continues it: its chain holds what was verified, `partial` set
    Unvouched, // no moov found or readable: left as it is
};

// Where the clip's length comes from: its slot (a file of a found or deleted
// folder), or its own boxes (a carved clip, whose length becomes theirs).
enum class ClipLength { FromSlot, FromBoxes };

IsoMediaFragments StitchIsoMedia(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                 FSAccessLib::DirEntry& entry, ClipLength length);

} // namespace Kalvory
