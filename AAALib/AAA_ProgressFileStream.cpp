// The source and destination streams of a restore job: their seeks and
// writes report progress and honour the job's cancel and pause.
#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "AAA_LogLines.h"
#include "AAA_Progress.h"

namespace Restore {
namespace {

constexpr const char* kJobSourceFile = "restorelib/Restore_Thread";

// Stores `percent`, or raises the cancellation the user asked for.
void ReportProgress(JobProgress& job, uint64_t percent) {
    if (job.CancelRequested())
        AAA::ThrowLogged<AAA::CancellationException>(kJobSourceFile, AAA::LogLine::kJobCancelled, "AAA::CancellationException()");
    // A held tail can write a few bytes past the announced total.
    job.percent.store(static_cast<int32_t>(percent > 100 ? 100 : percent));
}

} // namespace

int64_t ProgressFileStream::Seek(int64_t offset, int origin) {
    JobProgress* job = CurrentJob.load();
    if (job)
        job->Checkpoint();
    const int64_t position = FileStream::Seek(offset, origin);
    const uint64_t total = ProgressTotal.load();
    if (job && total != 0 && ProgressWritten.load() == 0) {
        // A scan of the whole card counts in the card's offsets, the window's included.
        const uint64_t at = CardWindowOpen() ? FileOffset(static_cast<uint64_t>(position)) : static_cast<uint64_t>(position);
        ProgressPosition.store(at);
        ReportProgress(*job, at * 90 / total);
    }
    return position;
}

JobProgress* ProgressFileStream::BeforeWrite() {
    JobProgress* job = CurrentJob.load();
    if (job)
        job->Checkpoint();
    return job;
}

void ProgressFileStream::AfterWrite(JobProgress* job, uint32_t count) {
    const uint64_t written = ProgressWritten.fetch_add(count) + count;
    const uint64_t total = ProgressTotal.load();
    if (job && total != 0)
        ReportProgress(*job, written * 100 / total);
}

void ProgressFileStream::Write(const void* buffer, uint32_t count) {
    JobProgress* job = BeforeWrite();
    FileStream::Write(buffer, count);
    AfterWrite(job, count);
}

void CountWrittenWithoutWrite(uint64_t bytes) {
    JobProgress* job = CurrentJob.load();
    if (job)
        job->Checkpoint();
    const uint64_t written = ProgressWritten.fetch_add(bytes) + bytes;
    const uint64_t total = ProgressTotal.load();
    if (job && total != 0)
        ReportProgress(*job, written * 100 / total);
}

std::optional<uint32_t> ProgressFileStream::TransferFrom(FileStream& source, int64_t sourceOffset, uint32_t count) {
    JobProgress* job = BeforeWrite();
    const std::optional<uint32_t> moved = FileStream::TransferFrom(source, sourceOffset, count);
    if (moved && *moved > 0)
        AfterWrite(job, *moved);
    return moved;
}

} // namespace Restore
