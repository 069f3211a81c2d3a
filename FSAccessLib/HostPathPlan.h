#pragma once
// Where each target of one recovery is written. Two entries of a run can map
// to one host path (a rebuilt deleted name equal to a live one, card names made
// equal by the safe-name mapping, a file named like a folder); both are kept.
#include <string>
#include <unordered_map>

#include "AAA_WideString.h"
#include "DirEntry.h"

namespace FSAccessLib {

// Assigns host paths in walk order. A path an earlier entry of the run took
// (file with file, file with folder) makes the later entry take the first free
// "NAME (2).EXT", "NAME (3).EXT", ...; two folders of one path share it. Paths
// compare without ASCII case, as they would on a FAT or exFAT destination.
// What the host held before the run is not looked at: the copy never
// overwrites it, and a listing made without a destination shows the same names.
class HostPathPlanner {
public:
    explicit HostPathPlanner(AAA::WString destination) : destination_(std::move(destination)) {}

    // The host path of `entry`, a target met in walk order (tree relinked).
    AAA::WString Assign(const DirEntry& entry);
    // Entries that got a numbered name.
    int RenamedCount() const { return renamed_; }

private:
    enum class Kind { File, Folder };
    AAA::WString ParentPath(const DirEntry& entry) const;
    bool Taken(const AAA::WString& path, Kind kind) const;

    AAA::WString destination_;
    std::unordered_map<const DirEntry*, AAA::WString> folders_;
    std::unordered_map<std::u16string, Kind> taken_; // by case-folded path
    std::unordered_map<std::u16string, int> nextNumber_; // where the numbering of a path goes on
    int renamed_ = 0;
};

// "NAME (n).EXT" for a file, "NAME (n)" for a folder, within the host's
// component length.
AAA::WString NumberedName(const AAA::WString& component, int number, bool isFolder);

} // namespace FSAccessLib
