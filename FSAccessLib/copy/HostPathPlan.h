#pragma once
// Where each target of one recovery is written. Two entries of a run can map
// to one host path (a rebuilt deleted name equal to a live one, card names made
// equal by the safe-name mapping, a file named like a folder); both are kept.
#include <string>
#include <unordered_map>
#include <vector>

#include "AAA_WideString.h"
#include "DirEntry.h"

namespace FSAccessLib {

// Longest path below the destination, in UTF-8 bytes. The host's own limit
// (PATH_MAX, 4096 with its NUL) less room for the destination's path.
constexpr size_t kMaxRelativePathBytes = 3072;

// Where one target goes.
struct HostPlace {
    AAA::WString path;     // destination + '/' + relative
    AAA::WString relative; // '/'-separated, below the destination
    // A folder above was too deep for the host, so the entry sits higher up.
    bool movedUp = false;
    // A folder too deep for the host: its contents go into `relative`, the
    // folder above, and there is nothing to make.
    bool mergedFolder = false;
    // Its own name was taken in the run: it got "NAME (n).EXT".
    bool numbered = false;
};

// The name the command line keeps beside the recovered files for its report:
// no card entry at the top of the destination takes it.
inline constexpr const char16_t* kReportFileName = u"kalvory-report.json";

// Assigns host paths in walk order. A path an earlier entry of the run took
// (file with file, file with folder) makes the later entry take the first free
// "NAME (2).EXT", "NAME (3).EXT", ...; two folders of one path share it. Paths
// compare without ASCII case, as they would on a FAT or exFAT destination.
// What the host held before the run is not looked at: the copy never
// overwrites it, and a listing made without a destination shows the same names.
// A folder whose path would leave no room for a full-length name below it
// within kMaxRelativePathBytes is not made: what it holds goes into the
// deepest folder that fits, numbered like any other meeting of names.
class HostPathPlanner {
public:
    explicit HostPathPlanner(AAA::WString destination);

    // The host path of `entry`, a target met in walk order (tree relinked).
    AAA::WString Assign(const DirEntry& entry) { return AssignPlace(entry).path; }
    HostPlace AssignPlace(const DirEntry& entry);
    // Entries that got a numbered name.
    int RenamedCount() const { return renamed_; }
    // Files placed higher up because their folders were too deep.
    int MovedUpCount() const { return movedUp_; }

private:
    enum class Kind { File, Folder };
    struct Folder {
        AAA::WString relative;
        bool movedUp = false;
    };
    // Where the contents of `folder` go; folders not met as targets (not
    // selected) are placed by the same rules.
    Folder PlaceOfFolder(const DirEntry* folder) const;
    bool Taken(const AAA::WString& relative, Kind kind) const;
    AAA::WString Full(const AAA::WString& relative) const { return destination_ + u"/" + relative; }

    AAA::WString destination_;
    std::unordered_map<const DirEntry*, Folder> folders_;
    std::unordered_map<std::u16string, Kind> taken_; // by case-folded path
    std::unordered_map<std::u16string, int> nextNumber_; // where the numbering of a path goes on
    int renamed_ = 0;
    int movedUp_ = 0;
};

// "NAME (n).EXT" for a file, "NAME (n)" for a folder, within the host's
// component length.
AAA::WString NumberedName(const AAA::WString& component, int number, bool isFolder);

} // namespace FSAccessLib
