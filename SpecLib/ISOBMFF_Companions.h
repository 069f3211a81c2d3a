#pragma once
// What a camera writes with a clip when recording stops, carved directly
// after the clip on the card: its thumbnail picture and, from an action
// camera, the low-resolution copy recorded alongside it (GX010001.LRV).
#include <cstddef>
#include <optional>
#include <vector>

#include "AAA_Stream.h"
#include "DirEntry.h"
#include "FSAccessBase.h"

namespace Kalvory {

enum class LowResolutionCopies { Ignored, Taken };

struct ClipCompanions {
    std::optional<size_t> thumbnail;     // index into the root's children
    std::optional<size_t> lowResolution; // likewise
};

// Looks among the root's carved files in card order.
class CompanionFinder {
public:
    CompanionFinder(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, const FSAccessLib::DirEntry& root);

    // The carved files that follow the root's child `clip` on the card before
    // any other file but clip documents (NonRealTimeMeta XML): a picture of a
    // thumbnail's shape and, when taken, an ISO media file of the clip's brand
    // and duration (within a second) whose picture is smaller both ways. A
    // file is given to one clip only.
    ClipCompanions Find(size_t clip, LowResolutionCopies lowResolution);

private:
    bool IsLowResolutionCopy(const FSAccessLib::DirEntry& clip, const FSAccessLib::DirEntry& copy) const;

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    const FSAccessLib::DirEntry& root_;
    std::vector<size_t> byPlace_; // the root's carved files by their start
    std::vector<bool> given_;     // by the root's child
};

} // namespace Kalvory
