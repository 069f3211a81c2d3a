#pragma once
// Process-wide progress of the one restore job a process runs at a time.
// The worker writes the percent and reads the cancel flag; the interface
// thread does the opposite, so both are atomics.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace Restore {

// Holds the worker at its next source seek or destination write while closed.
class PauseGate {
public:
    void Close();
    void Open();
    bool IsClosed() const { return closed_.load(); }
    // Blocks while the gate is closed; returns at once otherwise.
    void Pass();

private:
    std::atomic<bool> closed_{false};
    std::mutex mutex_;
    std::condition_variable opened_;
};

struct JobProgress {
    std::atomic<int32_t> percent{0};
    std::atomic<uint8_t> cancel{0};
    PauseGate gate;
    // Called on the worker at every source seek and destination write, before
    // the gate; lets tests act at an exact point of a copy. Set before starting.
    void (*checkpoint)(JobProgress& job) = nullptr;

    bool CancelRequested() const { return cancel.load() != 0; }
    // What every seek and write passes: the checkpoint, then the gate.
    void Checkpoint() {
        if (checkpoint)
            checkpoint(*this);
        gate.Pass();
    }
};

extern std::atomic<uint64_t> ProgressTotal;
extern std::atomic<uint64_t> ProgressWritten;
// Where the card was last read (verification), and the files saved so far:
// what a front end shows beside the percent.
extern std::atomic<uint64_t> ProgressPosition;
extern std::atomic<uint64_t> ProgressFiles;
// The progress block of the job constructed last; null until the first job.
extern std::atomic<JobProgress*> CurrentJob;

void SetProgressTotal(uint64_t total);
// Counts `bytes` as written without a write (a file moved into place), with
// the cancel and pause a write honours.
void CountWrittenWithoutWrite(uint64_t bytes);

} // namespace Restore
