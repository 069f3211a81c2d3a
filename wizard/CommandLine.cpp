#include "CommandLine.h"

#include <cstdio>

std::optional<int> LogThresholdFromCommandLine(const std::string& line) {
    int level = 0;
    if (line.empty() || std::sscanf(line.c_str(), "-l %d", &level) != 1)
        return std::nullopt;
    return level;
}

std::string JoinArguments(int argc, char** argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}
