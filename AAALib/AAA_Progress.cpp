#include "AAA_Progress.h"

namespace Restore {

std::atomic<uint64_t> ProgressTotal{0};
std::atomic<uint64_t> ProgressWritten{0};
std::atomic<uint64_t> ProgressPosition{0};
std::atomic<uint64_t> ProgressFiles{0};
std::atomic<JobProgress*> CurrentJob{nullptr};

void SetProgressTotal(uint64_t total) {
    ProgressTotal.store(total);
    ProgressWritten.store(0);
    ProgressPosition.store(0);
    ProgressFiles.store(0);
}

void PauseGate::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_.store(true);
}

void PauseGate::Open() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_.store(false);
    }
    opened_.notify_all();
}

void PauseGate::Pass() {
    if (!closed_.load())
        return;
    std::unique_lock<std::mutex> lock(mutex_);
    opened_.wait(lock, [this] { return !closed_.load(); });
}

} // namespace Restore
