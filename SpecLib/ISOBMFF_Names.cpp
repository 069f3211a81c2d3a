#include "ISOBMFF_Names.h"

#include <algorithm>
#include <cstdio>

#include "AAA_DebugLog.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Fragments.h"
#include "M4ROOT_Sidecars.h"
#include "TreeFolders.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

AAA::WString UpperExtension(const AAA::WString& name) {
    const size_t dot = name.rfind(u'.');
    AAA::WString extension = dot == AAA::WString::npos ? AAA::WString() : name.substr(dot + 1);
    for (char16_t& c : extension)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return extension;
}

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
    const size_t dot = entry.name.rfind(u'.');
    entry.name = (dot == AAA::WString::npos ? entry.name : entry.name.substr(0, dot)) + u"." + extension;
}

} // namespace

bool IsIsoMediaName(const AAA::WString& name) {
    const AAA::WString extension = UpperExtension(name);
    return extension == u"MP4" || extension == u"MOV" || extension == u"M4V" || extension == u"3GP" ||
           extension == u"LRV";
}

IsoMediaFiling RenameAndMoveIsoMediaFiles(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& root) {
    IsoMediaFiling filing;
    std::vector<size_t> xavc;
    for (size_t i = 0; i < root.children.size(); ++i) {
        DirEntry& entry = root.children[i];
        if (!entry.carved || entry.isDirectory || entry.fromFoundFolder || !IsIsoMediaName(entry.name))
            continue;
        const IsoMediaFragments kept = StitchIsoMedia(stream, volume, entry, ClipLength::FromBoxes);
        // Without a readable moov a clip the walk carved whole stays as it is;
        // a start whose moov was never found is no clip.
        if (kept == IsoMediaFragments::Unvouched && WalkTopLevelBoxes(stream, entry.start, entry.length).moovAt == 0) {
            entry.target = false;
            ++filing.dropped;
            continue;
        }
        filing.partial += kept == IsoMediaFragments::Partial;
        const uint32_t brand = BrandAt(stream, entry.start);
        if (brand == BoxType("XAVC"))
            xavc.push_back(i);
        else if (brand == BoxType("qt  "))
            SetExtension(entry, u"MOV");
    }
    if (!xavc.empty()) {
        // Folders are made after the walk: appending to the root moves its children.
        DirEntry* clips = ClipFolder(root);
        uint32_t next = 1;
        for (const DirEntry& child : clips ? clips->children : std::vector<DirEntry>())
            next = std::max(next, ClipNumber(child.name) + 1);
        std::vector<FiledClip> filed;
        for (size_t i : xavc) {
            if (clips == nullptr || next > 9999)
                break;
            DirEntry& clip = root.children[i];
            DirEntry copy = clip;
            copy.name = ClipName(next);
            copy.target = true;
            clips->children.push_back(std::move(copy));
            clip.target = false;
            filed.push_back({clip.start, next++, clips});
            ++filing.clips;
        }
        filing.sidecars = FileClipSidecars(stream, root, filed);
    }
    root.Relink(nullptr);
    AAA::DebugLog(7, "ISO media: %d clips and %d documents filed under M4ROOT, %d partial, %d without their moov\n",
                  filing.clips, filing.sidecars, filing.partial, filing.dropped);
    return filing;
}

} // namespace Kalvory
