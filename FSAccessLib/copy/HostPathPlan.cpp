#include "HostPathPlan.h"

#include "AAA_DebugLog.h"
#include "SafeHostPath.h"

namespace FSAccessLib {
namespace {

std::u16string Folded(const AAA::WString& path) {
    std::u16string key = path;
    for (char16_t& c : key)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return key;
}

size_t Utf8Length(const AAA::WString& text) { return AAA::ToUtf8(text).size(); }

} // namespace

AAA::WString NumberedName(const AAA::WString& component, int number, bool isFolder) {
    const size_t dot = isFolder ? AAA::WString::npos : component.rfind(u'.');
    const bool hasExtension = dot != AAA::WString::npos && dot > 0;
    AAA::WString stem = hasExtension ? component.substr(0, dot) : component;
    const AAA::WString extension = hasExtension ? component.substr(dot) : AAA::WString();
    const AAA::WString mark = u" (" + AAA::FromUtf8(std::to_string(number)) + u")";
    while (!stem.empty() && Utf8Length(stem + mark + extension) > kMaxHostComponentBytes) {
        stem.pop_back();
        if (!stem.empty() && stem.back() >= 0xD800 && stem.back() <= 0xDBFF)
            stem.pop_back(); // never half a surrogate pair
    }
    return stem + mark + extension;
}

namespace {

AAA::WString Join(const AAA::WString& folder, const AAA::WString& component) {
    return folder.empty() ? component : folder + u"/" + component;
}

// Whether a folder at `relative` leaves room for any name below it.
bool FitsAsFolder(const AAA::WString& relative) {
    return Utf8Length(relative) + 1 + kMaxHostComponentBytes <= kMaxRelativePathBytes;
}

} // namespace

HostPathPlanner::Folder HostPathPlanner::PlaceOfFolder(const DirEntry* folder) const {
    // Up to the root or the nearest folder already placed, then down again.
    std::vector<const DirEntry*> unplaced;
    Folder place;
    for (const DirEntry* at = folder; at != nullptr && at->parent != nullptr; at = at->parent) {
        const auto found = folders_.find(at);
        if (found != folders_.end()) {
            place = found->second;
            break;
        }
        unplaced.push_back(at);
    }
    for (auto it = unplaced.rbegin(); it != unplaced.rend(); ++it) {
        const AAA::WString inside = Join(place.relative, SafeHostComponent((*it)->name));
        if (FitsAsFolder(inside))
            place.relative = inside;
        else
            place.movedUp = true;
    }
    return place;
}

bool HostPathPlanner::Taken(const AAA::WString& relative, Kind kind) const {
    const auto found = taken_.find(Folded(relative));
    return found != taken_.end() && !(kind == Kind::Folder && found->second == Kind::Folder);
}

HostPathPlanner::HostPathPlanner(AAA::WString destination) : destination_(std::move(destination)) {
    taken_.emplace(Folded(kReportFileName), Kind::File);
}

HostPlace HostPathPlanner::AssignPlace(const DirEntry& entry) {
    const Kind kind = entry.isDirectory ? Kind::Folder : Kind::File;
    const Folder parent = PlaceOfFolder(entry.parent);
    const AAA::WString component = SafeHostComponent(entry.name);
    AAA::WString path = Join(parent.relative, component);
    if (entry.isDirectory && !FitsAsFolder(path)) {
        folders_[&entry] = {parent.relative, true};
        AAA::DebugLog(3, "%s: the folder is too deep for the host; what it holds is saved in %s\n",
                      entry.FullPath(), Full(parent.relative));
        return {Full(parent.relative), parent.relative, true, true};
    }
    const bool numbered = Taken(path, kind);
    if (numbered) {
        int& next = nextNumber_.try_emplace(Folded(path), 2).first->second;
        do
            path = Join(parent.relative, NumberedName(component, next++, entry.isDirectory));
        while (Taken(path, kind));
        ++renamed_;
        AAA::DebugLog(3, "%s: another recovered entry has this name; saved as %s\n", entry.FullPath(), Full(path));
    }
    taken_.emplace(Folded(path), kind);
    if (entry.isDirectory)
        folders_[&entry] = {path, parent.movedUp};
    else if (parent.movedUp)
        ++movedUp_;
    return {Full(path), path, parent.movedUp, false, numbered};
}

} // namespace FSAccessLib
