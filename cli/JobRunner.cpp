#include "JobRunner.h"

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "AAA_Progress.h"

namespace KalvoryCli {

std::atomic<bool> InterruptRequested{false};

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);

struct Completion {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
};

void OnCompletion(CompletionRecord* record) {
    auto* completion = static_cast<Completion*>(record->user);
    {
        std::lock_guard<std::mutex> lock(completion->mutex);
        completion->finished = true;
    }
    completion->done.notify_all();
}

// Lock-free atomics only: the cancel reaches the worker at its very next seek
// or write instead of at the next progress poll.
extern "C" void HandleInterrupt(int) {
    InterruptRequested.store(true);
    if (Restore::JobProgress* job = Restore::CurrentJob.load())
        job->cancel.store(1);
}

} // namespace

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = HandleInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int32_t RunOperation(Restore::RestoreMain& job, Operation operation, ProgressView& view, ViewEnd end) {
    Completion completion;
    if (operation == Operation::Verify)
        job.StartVerify(&completion, &OnCompletion);
    else
        job.StartSave(&completion, &OnCompletion);
    std::unique_lock<std::mutex> lock(completion.mutex);
    while (!completion.done.wait_for(lock, kPollInterval, [&] { return completion.finished; })) {
        if (InterruptRequested.load())
            job.RequestCancel();
        view.Update(job.ProgressPercent());
    }
    lock.unlock();
    job.Wait();
    if (job.ResultState() == Restore::TargetsFound || job.ResultState() == Restore::NoTargets)
        view.Update(job.ProgressPercent());
    if (end == ViewEnd::Finish || (job.ResultState() != Restore::TargetsFound))
        view.Finish();
    return job.ResultState();
}

} // namespace KalvoryCli
