#pragma once
// The wizard's only command-line setting: "-l N", the diagnostic-log threshold.
#include <optional>
#include <string>

// The threshold when `line` (the arguments joined by blanks) reads "-l N".
std::optional<int> LogThresholdFromCommandLine(const std::string& line);
std::string JoinArguments(int argc, char** argv);
