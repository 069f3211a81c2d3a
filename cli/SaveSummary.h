#pragma once
// The lines after a save's summary that tell what did not come back whole:
// damaged, cut or skipped files, failures, what a stopped save never reached.
#include <string>

#include "Kalvory_Recover.h"

namespace KalvoryCli {

// Files listed under one line before " and N more".
constexpr size_t kFilesListed = 20;

// Whether the files a stopped save never reached are listed (not after a
// cancel: the user knows).
enum class UnreachedFiles { List, Omit };

// Empty when every target came back whole.
std::string FormatSaveProblems(const Kalvory::KalvoryBase& strategy, UnreachedFiles unreached);

} // namespace KalvoryCli
