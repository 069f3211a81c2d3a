#include "TreeFolders.h"

#include "Commands.h"

namespace Kalvory {

using FSAccessLib::DirEntry;

namespace {

// The last folder, in walk order, whose whole name is `wanted`.
class CommandSearchExistingFolder : public FSAccessLib::Command {
public:
    explicit CommandSearchExistingFolder(AAA::WString text) : wanted(std::move(text)) {}
    void Execute(DirEntry& entry) override {
        if (entry.isDirectory && entry.name == wanted)
            found = &entry;
    }
    AAA::WString wanted;
    DirEntry* found = nullptr;
};

DirEntry* LastFolderNamed(DirEntry& root, const AAA::WString& name) {
    CommandSearchExistingFolder search(name);
    root.Apply(search);
    return search.found;
}

} // namespace

DirEntry* FindOrMakeFolder(DirEntry& root, const AAA::WString& name, const AAA::WString& parentName) {
    if (DirEntry* existing = LastFolderNamed(root, name))
        return existing;
    DirEntry* parent = parentName.empty() ? &root : LastFolderNamed(root, parentName);
    if (parent == nullptr)
        return nullptr;
    DirEntry folder;
    folder.name = name;
    folder.isDirectory = true;
    folder.carved = true;
    folder.target = true;
    parent->children.push_back(std::move(folder));
    return &parent->children.back();
}

NameSet ChildNames(const DirEntry& folder) {
    NameSet names;
    for (const DirEntry& child : folder.children)
        names.insert(child.name);
    return names;
}

AAA::WString FirstFreeName(const FSAccessLib::EntryNameRule& rule, uint32_t& counter, const NameSet& taken) {
    while (rule.min1 <= counter && counter <= rule.max1) {
        AAA::WString name = FSAccessLib::NewEntry(rule, 1, &counter, nullptr);
        if (!taken.count(name))
            return name;
        ++counter;
    }
    return AAA::WString();
}

} // namespace Kalvory
