#pragma once
// Runs one worker operation of a restore job to its end while showing its
// progress, and turns an interrupt (Ctrl-C) into the job's cancel request.
#include <atomic>

#include "ProgressView.h"
#include "Restore_Thread.h"

namespace KalvoryCli {

enum class Operation { Verify, Save };

// Set by the signal handler; the runner forwards it to the job.
extern std::atomic<bool> InterruptRequested;
void InstallInterruptHandler();

// Starts the operation, polls progress until the completion callback has run,
// waits for the worker and returns the job's result state.
// Continue: another part of the same bar follows (its line is not ended).
enum class ViewEnd { Finish, Continue };
int32_t RunOperation(Restore::RestoreMain& job, Operation operation, ProgressView& view, ViewEnd end = ViewEnd::Finish);

} // namespace KalvoryCli
