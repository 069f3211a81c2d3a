#pragma once
// The restore job: the one object through which a front end drives a recovery.
// It owns the strategy, runs verification and saving on a worker thread each,
// and turns every failure into a result state and the user message.
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "AAA_Progress.h"
#include "AAA_WideString.h"
#include "Kalvory_Volume.h"
#include "JobTypes.h"

namespace Kalvory {
class KalvoryBase;
}

struct CompletionRecord {
    void* user = nullptr;
    int32_t ResultState = 0;
    char16_t ErrorString[1024] = {};
};

using CompletionCallback = void (*)(CompletionRecord* record);

// Worker bookkeeping shared by every job kind.
struct Restore_Thread {
    virtual ~Restore_Thread();
    virtual std::thread::id StartVerify(void* user, CompletionCallback callback) = 0;

    std::thread worker;
    CompletionCallback callback = nullptr;
    Restore::JobProgress progress; // percent, cancel flag and pause gate
    CompletionRecord record;
    AAA::WString sourcePath;
    AAA::WString destinationPath;

    int32_t ProgressPercent() const { return progress.percent.load(); }
    void RequestCancel() { progress.cancel.store(1); }
    bool CancelRequested() const { return progress.CancelRequested(); }
    AAA::WString ErrorText() const { return AAA::WString(record.ErrorString); }
};

namespace Restore {

// Free bytes available to this user on the file system holding `folder`.
using FreeSpaceProbe = uint64_t (*)(const AAA::WString& folder);
uint64_t FreeBytesAvailable(const AAA::WString& folder);
// Tests replace the probe to simulate a small destination; null restores it.
void SetFreeSpaceProbeForTesting(FreeSpaceProbe probe);

class RestoreMain : public Restore_Thread {
public:
    RestoreMain(int32_t type, const AAA::WString& devicePath, const Kalvory::VolumeChoice& choice = {});
    ~RestoreMain() override;
    RestoreMain(const RestoreMain&) = delete;
    RestoreMain& operator=(const RestoreMain&) = delete;

    void SetDestination(const AAA::WString& folder);
    std::thread::id StartVerify(void* user, CompletionCallback callback) override;
    std::thread::id StartSave(void* user, CompletionCallback callback);
    // Reads every target's data on the calling thread (a listing's check of
    // unreadable parts); the result state as a worker's would be: 0, 2 cancelled, -1 failed.
    int32_t ReadTargetData();

    // Waits for the running worker, if any.
    void Wait();
    // Holds the worker at its next source seek or destination write.
    void SuspendWorker() { progress.gate.Close(); }
    void ResumeWorker() { progress.gate.Open(); }

    int32_t ResultState() const { return record.ResultState; }
    Kalvory::KalvoryBase* Strategy() const { return strategy_.get(); }

private:
    // Whom a failure without a named cause is put down to.
    enum class Blame { Source, None };
    template <class Body>
    void Guarded(Body body, Blame blame = Blame::None);
    void Fail(const char16_t* message);
    void LogResult() const;
    void ThrowIfCancelled() const;
    std::thread::id Launch(void* user, CompletionCallback callback, std::function<void()> body);

    std::unique_ptr<Kalvory::KalvoryBase> strategy_;
};

// Job helpers a front end uses on its current job.
void ResumeJobThread(RestoreMain& job);
void EndJob(std::unique_ptr<RestoreMain>& job);
AAA::WString JobSourcePath(const RestoreMain& job);

} // namespace Restore
