#pragma once
// How the segments of an E01 image are named: card.E01 … card.E99, then
// card.EAA … card.EZZ, card.FAA and on, in the first segment's letter case.
#include <cstdint>
#include <optional>
#include <string>

namespace Platform {

// Whether `path` names the first segment of an E01 image (".E01" or ".e01").
bool IsE01Path(const std::string& path);

// The name of segment `number` (1 is the first) of the image whose first
// segment is `firstSegment`; nullopt past the last name the scheme has.
std::optional<std::string> SegmentPath(const std::string& firstSegment, uint32_t number);

} // namespace Platform
