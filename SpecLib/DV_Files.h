#pragma once
// SD-Video DV clips on a formatted card: the clip handler of the sector
// search (an AVI whose units are interleaved with its two PCM files and its
// XML), the XML's length, and the step that files a card's clips under
// PRIVATE\QORVALIN\SBGDVSD with the camcorder's names.
#include <cstdint>
#include <string>

#include "AAA_Stream.h"
#include "AAA_WideString.h"
#include "DV_Clip.h"
#include "DirEntry.h"

namespace Kalvory {

// Parses the clip at position + advance and makes its AVI and PCM entries
// under `root` named `baseName` (or completes the entries that start where
// they do); adds the walked length to `advance`. Returns the entries made.
int CarveDvClip(AAA::Stream& stream, FSAccessLib::DirEntry& root, uint64_t position, uint64_t& advance,
                const std::string& baseName);

// The clip XML's length, up to one byte after "</Q7Main>"; 0 unless its
// first 1024 bytes hold the clip metadata header and the end tag comes
// within 64 KiB.
uint64_t XmlLength(AAA::Stream& stream, uint64_t start);

// Gives the root's clip files their camcorder names (001XX00.AVI,
// 001XX000.PCM, ...) and copies them into PRIVATE\QORVALIN\SBGDVSD\VIDEO and
// ETC\AUDIO, ICON and CLIP, unselecting the entries left under the root.
// Throws InvalidDataException when a folder can be neither found nor made.
void RenameFormattedDvFiles(FSAccessLib::DirEntry& root);

// "%03d" clip number, "XX", "%02d" part number; while some entry's name
// contains it, the next clip number with part 0.
AAA::WString MakeClipBaseName(FSAccessLib::DirEntry& root, uint32_t& clipNumber, uint32_t& partNumber);

} // namespace Kalvory
