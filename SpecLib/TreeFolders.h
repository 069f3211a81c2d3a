#pragma once
// Folders the media steps find or make in the tree of found entries, and the
// first free numbered name in a folder.
#include <cstdint>
#include <unordered_set>

#include "AAA_WideString.h"
#include "DirEntry.h"
#include "EntryNameRule.h"

namespace Kalvory {

// The last folder named `name` anywhere in the tree; otherwise a new folder of
// that name (carved and selected) appended to the root (empty `parentName`) or
// to the last folder named `parentName`; null when that parent is not found.
// Files of those names do not count: what is moved under them would never be
// copied. The tree is not relinked.
FSAccessLib::DirEntry* FindOrMakeFolder(FSAccessLib::DirEntry& root, const AAA::WString& name,
                                        const AAA::WString& parentName);

using NameSet = std::unordered_set<AAA::WString>;
// The names of a folder's children.
NameSet ChildNames(const FSAccessLib::DirEntry& folder);

// `rule` kind 1 with the first `counter` (counting up) whose name is not in
// `taken`; empty once the counter leaves the rule's range.
AAA::WString FirstFreeName(const FSAccessLib::EntryNameRule& rule, uint32_t& counter, const NameSet& taken);

} // namespace Kalvory
