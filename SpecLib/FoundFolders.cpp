#include "FoundFolders.h"

#include <unordered_set>
#include <vector>

#include "AAA_DebugLog.h"
#include "Commands.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

bool IsFoundFolder(const DirEntry& entry) { return entry.isDirectory && entry.fromFoundFolder && entry.carved; }

bool Inside(const DirEntry* entry, const DirEntry& folder) {
    for (const DirEntry* e = entry; e != nullptr; e = e->parent)
        if (e == &folder)
            return true;
    return false;
}

// The folder entry elsewhere in the tree whose slot names `found`'s cluster.
class CommandSearchSlotOf : public FSAccessLib::Command {
public:
    explicit CommandSearchSlotOf(const DirEntry& folder) : found_(folder) {}
    void Execute(DirEntry& entry) override {
        if (&entry != &found_ && entry.isDirectory && entry.start == found_.start && !Inside(&entry, found_))
            slot = &entry;
    }
    DirEntry* slot = nullptr;

private:
    const DirEntry& found_;
};

// The same data: a deleted name rebuilt on one side only does not tell them apart.
bool SameEntry(const DirEntry& a, const DirEntry& b) {
    return a.start == b.start && a.length == b.length && a.isDirectory == b.isDirectory &&
           (a.start != 0 || a.name == b.name);
}

// Moves what `from` holds into `into`, leaving out what `into` has already.
void MergeInto(DirEntry& into, DirEntry& from) {
    for (DirEntry& child : from.children) {
        bool known = false;
        for (const DirEntry& existing : into.children)
            known = known || SameEntry(existing, child);
        if (!known)
            into.children.push_back(std::move(child));
    }
    into.fromFoundFolder = true;
}

bool HoldsFolderNamed(const DirEntry& folder, std::initializer_list<const char16_t*> names) {
    for (const DirEntry& child : folder.children)
        for (const char16_t* name : names)
            if (child.isDirectory && child.name == name)
                return true;
    return false;
}

bool HoldsDcfFolders(const DirEntry& folder) {
    for (const DirEntry& child : folder.children)
        if (child.isDirectory && IsDcfFolderName(child.name))
            return true;
    return false;
}

// The camcorder's name for a top-level folder, when what it holds leaves no doubt.
AAA::WString NameFromContents(const DirEntry& folder) {
    const bool dcim = HoldsDcfFolders(folder);
    const bool priv = HoldsFolderNamed(folder, {u"AVCHD", u"QORVALIN", u"SBGDVSD", u"AVCHDTN", u"M4ROOT"});
    if (dcim == priv)
        return {};
    return dcim ? u"DCIM" : u"PRIVATE";
}

// Puts the found folder at root index `index` where it belongs; true when it
// left the root.
bool Link(DirEntry& root, size_t index, FoundFolderRebuild& result) {
    DirEntry& found = root.children[index];
    CommandSearchSlotOf search(found);
    root.Apply(search);
    if (search.slot != nullptr) {
        AAA::DebugLog(7, "\tfound folder %s is %s\n", found.name, search.slot->FullPath());
        MergeInto(*search.slot, found);
        root.children.erase(root.children.begin() + static_cast<std::ptrdiff_t>(index));
        root.Relink(nullptr);
        ++result.linked;
        return true;
    }
    const AAA::WString name = NameFromContents(found);
    if (!name.empty()) {
        AAA::DebugLog(7, "\tfound folder %s holds what %s holds\n", found.name, name);
        found.name = name;
        ++result.named;
    }
    return false;
}

void DropCarvedDuplicates(DirEntry& root, FoundFolderRebuild& result) {
    class CollectStarts : public FSAccessLib::Command {
    public:
        void Execute(DirEntry& entry) override {
            if (entry.fromFoundFolder && !entry.isDirectory)
                starts.insert(entry.start);
        }
        std::unordered_set<uint64_t> starts;
    } collect;
    root.Apply(collect);
    std::vector<DirEntry> kept;
    kept.reserve(root.children.size());
    for (DirEntry& child : root.children) {
        const bool duplicate = child.carved && !child.fromFoundFolder && !child.isDirectory &&
                               collect.starts.count(child.start) != 0;
        if (duplicate)
            ++result.carvedDropped;
        else
            kept.push_back(std::move(child));
    }
    root.children = std::move(kept);
    root.Relink(nullptr);
}

} // namespace

bool IsDcfFolderName(const AAA::WString& name) {
    if (name.size() != 8 || name[0] < u'1' || name[0] > u'9')
        return false;
    for (size_t i = 1; i < 3; ++i)
        if (name[i] < u'0' || name[i] > u'9')
            return false;
    for (size_t i = 3; i < 8; ++i) {
        const char16_t c = name[i];
        if (!((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_'))
            return false;
    }
    return true;
}

FoundFolderRebuild RebuildFoundFolders(DirEntry& root) {
    FoundFolderRebuild result;
    root.Relink(nullptr);
    for (size_t i = 0; i < root.children.size();) {
        if (IsFoundFolder(root.children[i]) && Link(root, i, result))
            continue;
        ++i;
    }
    DropCarvedDuplicates(root, result);
    return result;
}

} // namespace Kalvory
