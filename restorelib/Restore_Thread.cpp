#include "Restore_Thread.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/statvfs.h>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_StringTable.h"
#include "FSAccessCommon.h"
#include "Kalvory_Recover.h"
#include "Restore_FilePath.h"
#include "SourceFailure.h"
#include "AAA_MessageIds.h"
#include "AAA_LogLines.h"

Restore_Thread::~Restore_Thread() {
    if (worker.joinable())
        worker.join();
}

namespace Restore {
namespace {

constexpr size_t kErrorCapacity = sizeof(CompletionRecord::ErrorString) / sizeof(char16_t);

uint64_t StatvfsFreeBytes(const AAA::WString& folder) {
    struct statvfs info {};
    if (::statvfs(AAA::ToUtf8(folder).c_str(), &info) != 0) {
        const int error = errno;
        AAA::DebugLog(3, "%s: %s\n", AAA::FromUtf8(std::strerror(error)), folder);
        AAA::ThrowFromErrno(error);
    }
    return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

std::atomic<FreeSpaceProbe> freeSpaceProbe{&StatvfsFreeBytes};

} // namespace

uint64_t FreeBytesAvailable(const AAA::WString& folder) { return freeSpaceProbe.load()(folder); }

void SetFreeSpaceProbeForTesting(FreeSpaceProbe probe) {
    freeSpaceProbe.store(probe ? probe : &StatvfsFreeBytes);
}

RestoreMain::RestoreMain(int32_t type, const AAA::WString& devicePath, const Kalvory::VolumeChoice& choice) {
    CurrentJob.store(&progress);
    try {
        CheckSource(devicePath);
        strategy_ = Kalvory::MakeStrategy(static_cast<StrategyType>(type), devicePath, choice);
        sourcePath = MakeAbsolutePath(devicePath);
    } catch (const AAA::ExceptionBase& error) {
        strategy_.reset();
        AAA::ExceptionBase named = error;
        NameSource(named, devicePath);
        Fail(named.Message());
    } catch (...) {
        strategy_.reset();
        Fail(AAA::UnexpectedErrorText());
    }
    LogResult();
}

RestoreMain::~RestoreMain() {
    ResumeWorker(); // a held worker could never finish
    Wait();
    strategy_.reset();
    if (CurrentJob.load() == &progress)
        CurrentJob.store(nullptr); // no stream may reach a destroyed job's progress block
}

void RestoreMain::Fail(const char16_t* message) {
    record.ResultState = JobResult::Failed;
    size_t n = 0;
    for (; message[n] && n + 1 < kErrorCapacity; ++n)
        record.ErrorString[n] = message[n];
    record.ErrorString[n] = u'\0';
}

void RestoreMain::LogResult() const {
    AAA::DebugLog(6, "ResultState: %d  ErrorString: ", record.ResultState);
    AAA::DebugLog(6, "%s\n", record.ErrorString);
}

void RestoreMain::ThrowIfCancelled() const {
    if (CancelRequested())
        AAA::ThrowLogged<AAA::CancellationException>("restorelib/Restore_Thread", AAA::LogLine::kJobCancelled, "AAA::CancellationException()");
}

template <class Body>
void RestoreMain::Guarded(Body body, Blame blame) {
    try {
        if (!strategy_)
            throw AAA::ArgumentException(); // the job has no volume to work on
        body();
    } catch (const AAA::CancellationException&) {
        record.ResultState = JobResult::Cancelled;
    } catch (const AAA::ExceptionBase& error) {
        AAA::ExceptionBase named = error;
        if (blame == Blame::Source)
            NameSource(named, sourcePath);
        Fail(named.Message());
    } catch (...) {
        Fail(AAA::UnexpectedErrorText());
    }
}

void RestoreMain::SetDestination(const AAA::WString& folder) {
    record.ResultState = JobResult::TargetsFound;
    Guarded([&] {
        strategy_->SetDestination(folder);
        destinationPath = MakeAbsolutePath(folder);
        const uint64_t needed = strategy_->Reader().totalBytes;
        const uint64_t available = FreeBytesAvailable(folder);
        if (available < needed) {
            AAA::IOException full(AAA::Msg::NoFreeSpace);
            full.SetErrorNumber(ENOSPC);
            full.AddDetail(AAA::FromUtf8(AAA::FillPlaceholders(
                AAA::LoadStringUtf8(AAA::Msg::FreeSpaceShort), {AAA::ToUtf8(destinationPath), std::to_string(available) + " bytes",
                                            std::to_string(needed) + " bytes"})));
            throw full;
        }
    });
}

std::thread::id RestoreMain::Launch(void* user, CompletionCallback completion, std::function<void()> body) {
    Wait(); // the previous worker has finished; release it before starting the next
    callback = completion;
    record.user = user;
    worker = std::thread([this, body = std::move(body)] {
        body();
        LogResult();
        if (callback)
            callback(&record);
    });
    return worker.get_id();
}

std::thread::id RestoreMain::StartVerify(void* user, CompletionCallback completion) {
    return Launch(user, completion, [this] {
        Guarded(
            [&] {
                const int count = strategy_->Verify();
                ThrowIfCancelled();
                progress.percent.store(100);
                record.ResultState = count == 0 ? JobResult::NoTargets : JobResult::TargetsFound;
            },
            Blame::Source);
        // A verification that did not finish, or found nothing, leaves nothing in the destination.
        if (strategy_ && record.ResultState != JobResult::TargetsFound)
            strategy_->DropStaged();
    });
}

int32_t RestoreMain::ReadTargetData() {
    record.ResultState = JobResult::TargetsFound;
    Guarded([&] { strategy_->ReadTargetData(); }, Blame::Source);
    LogResult();
    return record.ResultState;
}

std::thread::id RestoreMain::StartSave(void* user, CompletionCallback completion) {
    return Launch(user, completion, [this] {
        AAA::DebugLog(6, "\n%S\n", std::string(80, '='));
        AAA::DebugLog(6, "%s\n", u"commit");
        AAA::DebugLog(6, "%S\n", std::string(80, '-'));
        Guarded([&] {
            strategy_->Save();
            ThrowIfCancelled();
            progress.percent.store(100);
        });
    });
}

void RestoreMain::Wait() {
    if (worker.joinable() && worker.get_id() != std::this_thread::get_id())
        worker.join();
}

void ResumeJobThread(RestoreMain& job) { job.ResumeWorker(); }

void EndJob(std::unique_ptr<RestoreMain>& job) {
    if (!job)
        return;
    job->ResumeWorker(); // a held worker could never finish
    job->Wait();
    job.reset();
}

AAA::WString JobSourcePath(const RestoreMain& job) { return job.sourcePath; }

} // namespace Restore
