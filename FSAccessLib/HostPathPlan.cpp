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

AAA::WString HostPathPlanner::ParentPath(const DirEntry& entry) const {
    const DirEntry* parent = entry.parent;
    if (parent == nullptr || parent->parent == nullptr)
        return destination_;
    const auto found = folders_.find(parent);
    return found != folders_.end() ? found->second : SafeHostPath(destination_, *parent);
}

bool HostPathPlanner::Taken(const AAA::WString& path, Kind kind) const {
    const auto found = taken_.find(Folded(path));
    return found != taken_.end() && !(kind == Kind::Folder && found->second == Kind::Folder);
}

AAA::WString HostPathPlanner::Assign(const DirEntry& entry) {
    const Kind kind = entry.isDirectory ? Kind::Folder : Kind::File;
    AAA::WString folder = ParentPath(entry);
    if (folder.empty() || folder.back() != u'/')
        folder += u'/';
    const AAA::WString component = SafeHostComponent(entry.name);
    AAA::WString path = folder + component;
    if (Taken(path, kind)) {
        int& next = nextNumber_.try_emplace(Folded(path), 2).first->second;
        do
            path = folder + NumberedName(component, next++, entry.isDirectory);
        while (Taken(path, kind));
        ++renamed_;
        AAA::DebugLog(3, "%s: another recovered entry has this name; saved as %s\n", entry.FullPath(), path);
    }
    taken_.emplace(Folded(path), kind);
    if (entry.isDirectory)
        folders_[&entry] = path;
    return path;
}

} // namespace FSAccessLib
