#pragma once
// What a save wrote, kept when its job ends so the finished page, which runs
// without a job, can tell it: the command line's summary, and the recovery
// report, written into the destination as the command line writes it.
#include <QString>
#include <optional>
#include <string>

#include "Restore_Thread.h"

struct SavedRun {
    QString destination;
    QString summary;
    QString reportPath;  // empty when the report could not be written
    QString reportText;  // the report, or why it could not be written
};

// Nullopt when the job never began a save. `started`: when the run began, UTC.
std::optional<SavedRun> TakeSavedRun(const Restore::RestoreMain& job, const std::string& started);
