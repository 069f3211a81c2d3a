#include "DV_Files.h"

#include "AAA_DebugLog.h"
#include "Commands.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

void LogEntry(const DirEntry& entry) {
    AAA::DebugLog(7, "Start=0x%016I64X, Size=0x%08I64X, ", entry.start, entry.length);
    AAA::DebugLog(7, "%s\n", entry.name);
}

// An entry from the directories keeps its length; a carved one takes the
// extents' total, and a carved PCM file is copied with its held tail.
void FillChain(DirEntry& entry, const DvExtentList& extents) {
    if (!entry.chain.empty())
        return;
    DvExtentList fitted = extents;
    const uint64_t sum = TotalLength(extents);
    if (entry.length != 0) {
        AAA::DebugLog(7, "\tentry.length : sizeFromAVI = 0x%08llX : 0x%08X\n", entry.length, sum);
        FitExtentsTo(fitted, entry.length);
    } else {
        entry.length = sum;
        if (entry.name.find(u"PCM") != AAA::WString::npos)
            entry.holdTail = true;
    }
    for (const DvExtent& extent : fitted)
        if (extent.length != 0)
            entry.chain.emplace_back(extent.start, extent.length, &entry);
}

// Returns 1 when it made the entry, 0 when it completed existing ones.
int MakeOrComplete(DirEntry& root, const DvExtentList& extents, const std::string& baseName, const char* extension,
                   bool hasXml) {
    FSAccessLib::CommandSearchExistingAddr2 existing(extents.front().start);
    root.Apply(existing);
    for (DirEntry* entry : existing.matches) {
        FillChain(*entry, extents);
        LogEntry(*entry);
        entry->dvMarked = hasXml;
    }
    if (!existing.matches.empty())
        return 0;
    DirEntry entry(baseName, extension);
    entry.carved = true;
    entry.isDirectory = false;
    entry.start = extents.front().start;
    FillChain(entry, extents);
    entry.dvMarked = hasXml;
    LogEntry(entry);
    root.children.push_back(std::move(entry));
    return 1;
}

} // namespace

int CarveDvClip(AAA::Stream& stream, DirEntry& root, uint64_t position, uint64_t& advance,
                const std::string& baseName) {
    DvClip clip;
    const uint64_t walked = ParseDvClip(clip, stream, position + advance);
    if (walked == 0)
        return 0;
    int made = 0;
    for (const auto& [extents, extension] : {std::pair{&clip.aviChain, "AVI"}, std::pair{&clip.pcm0Chain, "PCM"},
                                             std::pair{&clip.pcm1Chain, "PCM"}})
        if (!extents->empty())
            made += MakeOrComplete(root, *extents, baseName, extension, clip.hasXml);
    root.Relink(nullptr);
    advance += walked;
    return made;
}

} // namespace Kalvory
