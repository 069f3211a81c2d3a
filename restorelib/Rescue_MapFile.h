#pragma once
// Reading and replacing the mapfile on disk. A replacement is written beside
// it and renamed over it, so an interruption leaves the old map or the new one,
// never half of one.
#include <optional>
#include <string>

#include "Rescue_Map.h"

namespace Rescue {

enum class Durability { Rename, SyncThenRename };

// nullopt with `error` set when the file cannot be read or is no mapfile.
std::optional<Map> LoadMapFile(const std::string& path, std::string& error);

// 0, or the error number of the step that failed (the old map then stays).
int SaveMapFile(const std::string& path, const Map& map, const std::string& commandLine, Durability durability);

} // namespace Rescue
