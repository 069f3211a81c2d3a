// Files the carved clips the way the camcorder keeps them. The search made
// each clip's entries in disk order: the icon, the AVI, its two PCM files,
// then its XML; the names follow from that order.
#include <cstdio>

#include "AAA_Exceptions.h"
#include "Commands.h"
#include "DV_Files.h"
#include "TreeFolders.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

constexpr const char* kSourceFile = "SpecLib/DV_Rename";

// Only files count, and only by their extension: a folder or a file such as
// DAVID.JPG is no clip file.
bool IsFileOf(const DirEntry& entry, AAA::WStringView extension) {
    const AAA::WString& name = entry.name;
    return !entry.isDirectory && name.size() > extension.size() &&
           name.compare(name.size() - extension.size(), extension.size(), extension) == 0;
}

DirEntry& Folder(DirEntry& root, const char16_t* name, const char16_t* parent) {
    DirEntry* folder = FindOrMakeFolder(root, name, parent);
    if (folder == nullptr)
        AAA::ThrowLogged<AAA::InvalidDataException>(kSourceFile, __LINE__, "AAA::InvalidDataException()");
    return *folder;
}

// The copy in the folder is the one saved; the entry under the root stays
// behind, unselected.
void MoveTo(DirEntry& root, DirEntry& entry, const char16_t* folder, const char16_t* parent, AAA::WString name) {
    entry.name = std::move(name);
    DirEntry copy = entry;
    entry.target = false;
    Folder(root, folder, parent).children.push_back(std::move(copy));
}

// Icon before the AVI, both PCM files after it.
bool IsFullClip(const std::vector<DirEntry>& children, size_t avi) {
    return avi > 0 && avi + 2 < children.size() && IsFileOf(children[avi - 1], u".BMP") &&
           IsFileOf(children[avi + 1], u".PCM") && IsFileOf(children[avi + 2], u".PCM");
}

void FileFullClip(DirEntry& root, size_t avi, uint32_t& clipNumber, uint32_t& partNumber) {
    std::vector<DirEntry>& children = root.children;
    const AAA::WString base = MakeClipBaseName(root, clipNumber, partNumber);
    const bool continued = children[avi].dvMarked;
    MoveTo(root, children[avi], u"VIDEO", u"SBGDVSD", base + u".AVI");
    MoveTo(root, children[avi + 1], u"AUDIO", u"ETC", base + u"0.PCM");
    MoveTo(root, children[avi + 2], u"AUDIO", u"ETC", base + u"1.PCM");
    MoveTo(root, children[avi - 1], u"ICON", u"ETC", base + u".BMP");
    const size_t xml = avi + 3;
    if (xml >= children.size() || !IsFileOf(children[xml], u".XML")) {
        ++clipNumber;
        partNumber = 0;
        return;
    }
    MoveTo(root, children[xml], u"CLIP", u"ETC", base + u".XML");
    if (xml + 1 >= children.size())
        return;
    // A marked clip goes on in the next one, as its next part.
    if (continued && !IsFileOf(children[xml + 1], u".XML")) {
        ++partNumber;
    } else {
        ++clipNumber;
        partNumber = 0;
    }
}

void FileLoneAvi(DirEntry& root, size_t avi, uint32_t& clipNumber, uint32_t& partNumber) {
    if (partNumber != 0) {
        ++clipNumber;
        partNumber = 0;
    }
    const AAA::WString base = MakeClipBaseName(root, clipNumber, partNumber);
    MoveTo(root, root.children[avi], u"VIDEO", u"SBGDVSD", base + u".AVI");
    ++clipNumber;
    partNumber = 0;
}

} // namespace

AAA::WString MakeClipBaseName(DirEntry& root, uint32_t& clipNumber, uint32_t& partNumber) {
    for (;;) {
        char text[32];
        std::snprintf(text, sizeof text, "%03uXX%02u", clipNumber, partNumber);
        FSAccessLib::CommandSearchExistingNamePart taken(AAA::FromUtf8(text));
        root.Apply(taken);
        if (taken.found == nullptr)
            return taken.wanted;
        ++clipNumber;
        partNumber = 0;
    }
}

void RenameFormattedDvFiles(DirEntry& root) {
    if (root.children.empty())
        return;
    Folder(root, u"PRIVATE", u"");
    Folder(root, u"QORVALIN", u"PRIVATE");
    Folder(root, u"SBGDVSD", u"QORVALIN");
    Folder(root, u"ETC", u"SBGDVSD");
    uint32_t clipNumber = 1;
    uint32_t partNumber = 0;
    // Everything is filed into folders below PRIVATE: the root's own list
    // stays as it is.
    for (size_t i = 0; i < root.children.size(); ++i) {
        if (!IsFileOf(root.children[i], u".AVI"))
            continue;
        if (IsFullClip(root.children, i))
            FileFullClip(root, i, clipNumber, partNumber);
        else
            FileLoneAvi(root, i, clipNumber, partNumber);
    }
    root.Relink(nullptr);
}

} // namespace Kalvory
