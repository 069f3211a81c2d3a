#include "FoundFiles.h"

#include "ContentJudge.h"

namespace {

using FSAccessLib::DirEntry;
using Kalvory::UpperExtension;

FoundBy WayOf(const DirEntry& entry) {
    if (entry.fromFoundFolder)
        return FoundBy::FoundFolder;
    if (entry.carved)
        return FoundBy::Scan;
    return entry.deleted ? FoundBy::Deleted : FoundBy::Directory;
}

void Collect(const DirEntry& entry, FoundFiles& found) {
    for (const DirEntry& child : entry.children)
        Collect(child, found);
    if (!entry.target || entry.isDirectory)
        return;
    FoundFile file{entry.name, entry.length, KindOfName(entry.name), entry.DataRanges()};
    KindTotal& total = found.kinds[static_cast<size_t>(file.kind)];
    ++total.files;
    total.bytes += file.size;
    ++found.foundBy[static_cast<size_t>(WayOf(entry))];
    if (file.kind == FileKind::Still)
        found.stills.push_back(std::move(file));
    else if (file.kind == FileKind::AvchdVideo || file.kind == FileKind::DvClip)
        found.videos.push_back(std::move(file));
}

} // namespace

FileKind KindOfName(const AAA::WString& name) {
    const AAA::WString extension = UpperExtension(name);
    if (extension == u"MTS" || extension == u"M2TS")
        return FileKind::AvchdVideo;
    if (extension == u"AVI")
        return FileKind::DvClip;
    if (extension == u"JPG" || extension == u"JPEG")
        return FileKind::Still;
    return FileKind::Other;
}

FoundFiles CollectFoundFiles(const DirEntry& root) {
    FoundFiles found;
    Collect(root, found);
    return found;
}
