#pragma once
// The numbers a front end and the restore job exchange, by name.
#include <cstdint>

namespace Restore {

// Strategy types: 0 directory search; 1 directory and sector search;
// 2 sector search only; any other finds nothing.
enum class StrategyType : int32_t { Directory = 0, DirAndSector = 1, Sector = 2 };

// A job's result state (CompletionRecord::ResultState keeps it as a number,
// so these compare with it directly).
enum JobResult : int32_t { TargetsFound = 0, NoTargets = 1, Cancelled = 2, Failed = -1 };

} // namespace Restore
