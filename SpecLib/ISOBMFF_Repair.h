#pragma once
// A clip cut off before its moov was written (the camera lost power while
// recording) holds ftyp and an mdat only. Its video samples are found in the
// mdat and a moov is made for them from a healthy clip of the same camera;
// the copy writes it after the card's bytes.
#include <cstdint>
#include <optional>

#include "AAA_Stream.h"
#include "DirEntry.h"
#include "FSAccessBase.h"
#include "ISOBMFF_MoovRebuild.h"

namespace Kalvory {

// The template a clip with a readable moov offers; none without H.264 video.
std::optional<VideoTemplate> TemplateOfClip(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume,
                                            const FSAccessLib::DirEntry& clip);

// Gives the carved clip without a moov its rebuilt moov (and the mdat's size
// where the card's ran past its data), its length through the samples
// found; sets `repaired`. False when its mdat holds no video of the template's coding.
bool RepairIsoMedia(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, FSAccessLib::DirEntry& entry,
                    const VideoTemplate& from);

} // namespace Kalvory
