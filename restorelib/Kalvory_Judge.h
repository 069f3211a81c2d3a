#pragma once
// What the strategies do with the data of deleted files (and of files read
// from folders found after a format) before choosing targets: streams are
// put back together from their own clusters, and every other such file is
// judged by its content.
#include <cstdint>

#include "Commands.h"

namespace Kalvory {

enum class OverwrittenFiles {
    Skip,  // not written; listed
    Write, // written as well, flagged
};

// Leaves out the entries judged overwritten unless they are to be written.
class CommandLeaveOutOverwritten : public FSAccessLib::Command {
public:
    explicit CommandLeaveOutOverwritten(OverwrittenFiles files) : files_(files) {}
    void Execute(FSAccessLib::DirEntry& entry) override;
    int leftOut = 0; // selected files it unselected

private:
    OverwrittenFiles files_;
};

} // namespace Kalvory
