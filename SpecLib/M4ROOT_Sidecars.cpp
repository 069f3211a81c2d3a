#include "M4ROOT_Sidecars.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <string_view>

#include "TreeFolders.h"

namespace Kalvory {
namespace {

constexpr uint64_t kLongestClipMeta = 256 * 1024;
constexpr uint32_t kHeadBytes = 1024;
constexpr std::string_view kRoot = "<NonRealTimeMeta";
constexpr std::string_view kEndTag = "</NonRealTimeMeta>";

AAA::WString SidecarName(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "C%04uM01.XML", number);
    return AAA::FromUtf8(text);
}

AAA::WString ThumbnailName(uint32_t number) {
    char text[16];
    std::snprintf(text, sizeof text, "C%04uT01.JPG", number);
    return AAA::FromUtf8(text);
}

} // namespace

uint64_t ClipMetaLength(AAA::Stream& stream, uint64_t start) {
    std::string text(kHeadBytes, '\0');
    stream.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
    text.resize(stream.Read(text.data(), kHeadBytes));
    if (text.rfind("<?xml ", 0) != 0 || text.find(kRoot) == std::string::npos)
        return 0;
    // Read on in blocks; the end tag may lie across two of them.
    for (uint64_t read = text.size(); read < kLongestClipMeta;) {
        const size_t tag = text.find(kEndTag);
        if (tag != std::string::npos) {
            size_t end = tag + kEndTag.size();
            if (end < text.size() && text[end] == '\r')
                ++end;
            if (end < text.size() && text[end] == '\n')
                ++end;
            return end;
        }
        std::string more(kHeadBytes, '\0');
        stream.Seek(static_cast<int64_t>(start + read), AAA::SeekBegin);
        more.resize(stream.Read(more.data(), kHeadBytes));
        if (more.empty())
            return 0;
        text += more;
        read += more.size();
    }
    return 0;
}

int FileClipSidecars(AAA::Stream& stream, FSAccessLib::DirEntry& root, const std::vector<FiledClip>& clips) {
    if (clips.empty())
        return 0;
    std::vector<FiledClip> byPlace = clips;
    std::sort(byPlace.begin(), byPlace.end(), [](const FiledClip& a, const FiledClip& b) { return a.start < b.start; });
    std::set<uint32_t> given;
    int filed = 0;
    for (FSAccessLib::DirEntry& entry : root.children) {
        if (!entry.carved || entry.isDirectory || entry.fromFoundFolder || entry.name.size() < 4 ||
            entry.name.substr(entry.name.size() - 4) != u".XML" || ClipMetaLength(stream, entry.start) != entry.length)
            continue;
        // The camcorder writes the document when the clip ends: after it on the card.
        auto after = std::upper_bound(byPlace.begin(), byPlace.end(), entry.start,
                                      [](uint64_t at, const FiledClip& clip) { return at < clip.start; });
        if (after == byPlace.begin() || !given.insert((after - 1)->number).second)
            continue;
        FSAccessLib::DirEntry sidecar = entry;
        sidecar.name = SidecarName((after - 1)->number);
        sidecar.target = true;
        (after - 1)->folder->children.push_back(std::move(sidecar));
        entry.target = false;
        ++filed;
    }
    return filed;
}

int FileClipThumbnails(FSAccessLib::DirEntry& root, const std::vector<ClipThumbnail>& thumbnails,
                       std::vector<size_t>& moved) {
    if (thumbnails.empty())
        return 0;
    // Made after every clip and document is filed: appending to M4ROOT moves CLIP.
    FSAccessLib::DirEntry* folder = FindOrMakeFolder(root, u"THMBNL", u"M4ROOT");
    if (folder == nullptr)
        return 0;
    const NameSet taken = ChildNames(*folder);
    int filed = 0;
    for (const ClipThumbnail& thumbnail : thumbnails) {
        FSAccessLib::DirEntry copy = root.children[thumbnail.picture];
        copy.name = ThumbnailName(thumbnail.number);
        if (taken.count(copy.name) != 0)
            continue;
        copy.target = true;
        folder->children.push_back(std::move(copy));
        moved.push_back(thumbnail.picture);
        ++filed;
    }
    return filed;
}

} // namespace Kalvory
