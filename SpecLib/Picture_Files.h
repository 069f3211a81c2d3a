#pragma once
// DCF still pictures: the length of an Exif JPEG found by its signature, the
// test whether a picture lies in one of the camcorder's DCF folders, and the
// step that files carved pictures into new DCF folders under DCIM.
#include <cstdint>

#include "AAA_Stream.h"
#include "DirEntry.h"
#include "EntryNameRule.h"

namespace Kalvory {

// The length of the Exif JPEG at `start`, through its end-of-image marker; 0
// when there is no Exif JPEG there or its markers are broken. A walk that
// reaches the end of the medium or passes 4 GiB is broken.
uint64_t CheckAsJpeg(AAA::Stream& stream, uint64_t start);
// The marker walk of CheckAsJpeg from the byte after the start-of-image marker
// at `start`, whatever the first segment. `confirmed` receives the offset
// (from `start`) of the last marker the walk accepted, restart markers in
// their order inside the entropy-coded data included; 0 when none.
uint64_t WalkJpegMarkers(AAA::Stream& stream, uint64_t start, uint64_t* confirmed = nullptr);

// The entry's path holds the prefix of a DCF folder rule (CDPFP, CDPFQ, CDPFR).
bool IsInDcfFolder(const FSAccessLib::DirEntry& entry);

// A new folder under `parent` named by `rule` with the first number from
// `counter` no child bears; null when the rule's numbers are used up.
FSAccessLib::DirEntry* MakeNumberedFolder(uint32_t& counter, FSAccessLib::DirEntry& parent,
                                          const FSAccessLib::EntryNameRule& rule);

// Files every carved JPEG under the root into new DCF folders under DCIM
// (100CDPFP\IMGA0001.JPG, ...), a clip's .THM and .LRV that bear its carved
// name beside it under its number, and unselects every other carved file left
// under the root, but a stream that found no free stream name. Returns the
// pictures that found no folder (both folder rules used up); they stay under
// the root, unselected. Throws InvalidDataException when DCIM can be neither
// found nor made.
int RenameAndMoveDcimFiles(FSAccessLib::DirEntry& root);

} // namespace Kalvory
