#include "ISOBMFF_Names.h"

#include <algorithm>
#include <cstdio>

#include "AAA_DebugLog.h"
#include "ContentJudge.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Companions.h"
#include "ISOBMFF_Fragments.h"
#include "ISOBMFF_Repair.h"
#include "M4ROOT_Sidecars.h"
#include "TreeFolders.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

uint32_t BrandAt(AAA::Stream& stream, uint64_t start) {
    uint8_t head[16] = {};
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    const uint32_t got = stream.Read(head, sizeof head);
    return MajorBrand(head, got);
}

// The number of a camcorder clip name C0001.MP4; 0 for other names.
uint32_t ClipNumber(const AAA::WString& name) {
    if (name.size() != 9 || name[0] != u'C' || UpperExtension(name) != u"MP4")
        return 0;
    uint32_t number = 0;
    for (size_t i = 1; i < 5; ++i) {
        if (name[i] < u'0' || name[i] > u'9')
            return 0;
        number = number * 10 + static_cast<uint32_t>(name[i] - u'0');
    }
    return number;
}

AAA::WString ClipName(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "C%04u.MP4", number);
    return AAA::FromUtf8(text);
}

DirEntry* ClipFolder(DirEntry& root) {
    if (FindOrMakeFolder(root, u"PRIVATE", u"") == nullptr || FindOrMakeFolder(root, u"M4ROOT", u"PRIVATE") == nullptr)
        return nullptr;
    return FindOrMakeFolder(root, u"CLIP", u"M4ROOT");
}

void SetExtension(DirEntry& entry, const char16_t* extension) {
    entry.name = NameStem(entry.name) + u"." + extension;
}

// A clip of the same brand (the nearest on the card first) lends its moov.
bool RepairFromSameCamera(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& root, DirEntry& entry,
                          uint32_t brand, std::vector<std::pair<uint32_t, size_t>> healthy) {
    const auto distance = [&](const std::pair<uint32_t, size_t>& clip) {
        const uint64_t at = root.children[clip.second].start;
        return at > entry.start ? at - entry.start : entry.start - at;
    };
    std::erase_if(healthy, [&](const auto& clip) { return clip.first != brand; });
    std::sort(healthy.begin(), healthy.end(), [&](const auto& a, const auto& b) { return distance(a) < distance(b); });
    for (const auto& clip : healthy) {
        const std::optional<VideoTemplate> from = TemplateOfClip(stream, volume, root.children[clip.second]);
        if (from)
            return RepairIsoMedia(stream, volume, entry, *from);
    }
    return false;
}

// Files the XAVC S clips (root indices, in card order) under CLIP after the
// numbers there, with their documents and thumbnails.
void FileXavcClips(AAA::Stream& stream, DirEntry& root, const std::vector<size_t>& xavc, CompanionFinder& companions,
                   IsoMediaFiling& filing, std::vector<size_t>& moved) {
    // Folders are made after the walk: appending to the root moves its children.
    DirEntry* clips = ClipFolder(root);
    uint32_t next = 1;
    for (const DirEntry& child : clips ? clips->children : std::vector<DirEntry>())
        next = std::max(next, ClipNumber(child.name) + 1);
    std::vector<FiledClip> filed;
    std::vector<ClipThumbnail> thumbnails;
    for (size_t i : xavc) {
        if (clips == nullptr || next > 9999)
            break;
        DirEntry& clip = root.children[i];
        DirEntry copy = clip;
        copy.name = ClipName(next);
        copy.target = true;
        clips->children.push_back(std::move(copy));
        clip.target = false;
        filed.push_back({clip.start, next, clips});
        if (const std::optional<size_t> thumbnail = companions.Find(i, LowResolutionCopies::Ignored).thumbnail)
            thumbnails.push_back({next, *thumbnail});
        ++next;
        ++filing.clips;
    }
    filing.sidecars = FileClipSidecars(stream, root, filed);
    // After the documents: making THMBNL moves CLIP.
    filing.thumbnails = FileClipThumbnails(root, thumbnails, moved);
}

// The thumbnail and low-resolution copy of a clip bound for the DCF tree
// take its carved name, so that the DCF step numbers them with it.
void NameDcfCompanions(DirEntry& root, std::vector<size_t> dcf, CompanionFinder& companions, IsoMediaFiling& filing) {
    std::sort(dcf.begin(), dcf.end(), [&](size_t a, size_t b) { return root.children[a].start < root.children[b].start; });
    for (size_t i : dcf) {
        const ClipCompanions found = companions.Find(i, LowResolutionCopies::Taken);
        const AAA::WString& name = root.children[i].name;
        const AAA::WString stem = NameStem(name);
        if (found.lowResolution) {
            root.children[*found.lowResolution].name = stem + u".LRV";
            ++filing.companions;
        }
        if (found.thumbnail) {
            root.children[*found.thumbnail].name = stem + u".THM";
            ++filing.companions;
        }
    }
}

} // namespace

bool IsIsoMediaName(const AAA::WString& name) {
    const AAA::WString extension = UpperExtension(name);
    return extension == u"MP4" || extension == u"MOV" || extension == u"M4V" || extension == u"3GP" ||
           extension == u"LRV";
}

IsoMediaFiling RenameAndMoveIsoMediaFiles(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& root) {
    IsoMediaFiling filing;
    std::vector<size_t> xavc, dcf, headless;
    std::vector<std::pair<uint32_t, size_t>> healthy; // brand, index
    const auto name = [&](size_t i, uint32_t brand) {
        if (brand == BoxType("XAVC"))
            xavc.push_back(i);
        else
            dcf.push_back(i);
        if (brand == BoxType("qt  "))
            SetExtension(root.children[i], u"MOV");
    };
    for (size_t i = 0; i < root.children.size(); ++i) {
        DirEntry& entry = root.children[i];
        if (!entry.carved || entry.isDirectory || entry.fromFoundFolder || !IsIsoMediaName(entry.name))
            continue;
        const IsoMediaFragments kept = StitchIsoMedia(stream, volume, entry, ClipLength::FromBoxes);
        // Without a readable moov a clip the walk carved whole stays as it is;
        // a start whose moov was never found is repaired or no clip.
        if (kept == IsoMediaFragments::Unvouched && WalkTopLevelBoxes(stream, entry.start, entry.length).moovAt == 0) {
            headless.push_back(i);
            continue;
        }
        filing.partial += kept == IsoMediaFragments::Partial;
        const uint32_t brand = BrandAt(stream, entry.start);
        if (kept != IsoMediaFragments::Unvouched)
            healthy.emplace_back(brand, i);
        name(i, brand);
    }
    for (size_t i : headless) {
        DirEntry& entry = root.children[i];
        const uint32_t brand = BrandAt(stream, entry.start);
        if (RepairFromSameCamera(stream, volume, root, entry, brand, healthy)) {
            ++filing.repaired;
            name(i, brand);
        } else {
            entry.target = false;
            ++filing.dropped;
        }
    }
    // Companions are looked for after every clip is whole: a stitched clip's length changes.
    CompanionFinder companions(stream, volume, root);
    std::vector<size_t> moved;
    std::sort(xavc.begin(), xavc.end());
    if (!xavc.empty())
        FileXavcClips(stream, root, xavc, companions, filing, moved);
    NameDcfCompanions(root, dcf, companions, filing);
    // A moved thumbnail leaves the root: the DCF step files every carved picture there.
    std::sort(moved.begin(), moved.end());
    for (auto i = moved.rbegin(); i != moved.rend(); ++i)
        root.children.erase(root.children.begin() + static_cast<std::ptrdiff_t>(*i));
    root.Relink(nullptr);
    AAA::DebugLog(7, "ISO media: %d clips, %d documents and %d thumbnails filed under M4ROOT, %d companions named after "
                     "their clips, %d partial, %d repaired, %d without their moov\n",
                  filing.clips, filing.sidecars, filing.thumbnails, filing.companions, filing.partial, filing.repaired,
                  filing.dropped);
    return filing;
}

} // namespace Kalvory
