#pragma once
// What the command line tells of a source's layout: its partitions, which
// volume was read, and where it lies on the card.
#include <string>

#include "Kalvory_Volume.h"

namespace KalvoryCli {

// Lines for `list` (empty for a bare volume without a table).
std::string FormatLayoutText(const Kalvory::SourceLayout& layout);
// The "layout" member of `list --json`, with its leading comma.
std::string LayoutJsonMember(const Kalvory::SourceLayout& layout);
// What a summary says of how the volume was found; empty when it was the bare volume.
std::string LayoutNotice(const Kalvory::SourceLayout& layout, const std::string& source);

} // namespace KalvoryCli
