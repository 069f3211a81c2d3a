#pragma once
// What the command line tells of a source's layout: its partitions, which
// volume was read, and where it lies on the card.
#include <string>

#include "Kalvory_Recover.h"
#include "Kalvory_Volume.h"

namespace KalvoryCli {

// Lines for `list` (empty for a bare volume without a table).
std::string FormatLayoutText(const Kalvory::SourceLayout& layout);
// The "layout" member of `list --json`, with its leading comma.
std::string LayoutJsonMember(const Kalvory::SourceLayout& layout);
// What a summary says of how the volume was found; empty when it was the bare volume.
std::string LayoutNotice(const Kalvory::SourceLayout& layout, const std::string& source);
// What a summary says of the card's bytes outside the volume that the scan
// read too, and of the files it found there; empty when it read none.
std::string GapNotice(Kalvory::KalvoryBase& strategy);

} // namespace KalvoryCli
