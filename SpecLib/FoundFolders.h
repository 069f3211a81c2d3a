#pragma once
// After a quick format only the root folder and the table are new: the
// clusters of every other folder are still there, and the sector search reads
// them as "<sector>.dir" folders under the root. This puts them back where
// they stood and gives back the names the wiped root held.
#include "DirEntry.h"

namespace Kalvory {

struct FoundFolderRebuild {
    int linked = 0;         // put back inside the folder whose slot names them
    int named = 0;          // top-level folders named from what they hold
    int carvedDropped = 0;  // carved files a found folder's file already gives
};

// Links found folders into the folders that name them (their slot's first
// cluster is theirs), names top-level ones from what they hold (DCF folders:
// DCIM; AVCHD, M4ROOT or the SD-Video tree: PRIVATE), and drops carved files whose
// data a found folder's file already gives. A folder is never linked into
// itself or below itself.
FoundFolderRebuild RebuildFoundFolders(FSAccessLib::DirEntry& root);

// Whether `name` is a DCF folder name: 100 to 999, then five of A-Z, 0-9, _.
bool IsDcfFolderName(const AAA::WString& name);

} // namespace Kalvory
