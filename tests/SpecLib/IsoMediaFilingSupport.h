#pragma once
// A card's clips searched and filed as a recovery does, with a clip the
// directories already list as PRIVATE/M4ROOT/CLIP/C0007.MP4.
#include "DirEntry.h"
#include "ISOBMFF_Names.h"
#include "Picture_Files.h"
#include "SearchTestSupport.h"
#include "SectorSearch.h"

namespace SearchTest {

inline Kalvory::IsoMediaFiling SearchAndFileClips(RawVolume& volume, FSAccessLib::DirEntry& root) {
    FSAccessLib::DirEntry* folder = &root;
    for (const char16_t* name : {u"PRIVATE", u"M4ROOT", u"CLIP"}) {
        folder = &folder->children.emplace_back();
        folder->name = name;
        folder->isDirectory = true;
    }
    folder->children.emplace_back("C0007", "MP4");
    root.Relink(nullptr);
    Kalvory::SectorSearcher(volume, root).Run();
    for (FSAccessLib::DirEntry& child : root.children)
        child.target = true;
    const Kalvory::IsoMediaFiling filing = Kalvory::RenameAndMoveIsoMediaFiles(*volume.stream, volume, root);
    Kalvory::RenameAndMoveDcimFiles(root);
    return filing;
}

} // namespace SearchTest
