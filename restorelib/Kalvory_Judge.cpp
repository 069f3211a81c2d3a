#include "Kalvory_Judge.h"

#include <algorithm>
#include <vector>

#include "AAA_DebugLog.h"
#include "AVCHD_ClusterTrail.h"
#include "AVCHD_Fragments.h"
#include "ContentJudge.h"
#include "ISOBMFF_Fragments.h"
#include "ISOBMFF_Names.h"
#include "Kalvory_Recover.h"
#include "Picture_ClusterTrail.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

bool IsStream(const DirEntry& entry) { return CheckFor(entry.name) == ContentCheck::Stream; }

// Judged streams whose data is not taken as one run from their first cluster:
// the free-cluster rule gathered them.
bool ReadFromFreeRuns(const DirEntry& entry) { return !entry.chain.empty() && !TakenAsOneRun(entry); }

class CommandCollectJudged : public FSAccessLib::Command {
public:
    void Execute(DirEntry& entry) override {
        if (JudgedByContent(entry) && !entry.partial)
            keys.push_back(FSAccessLib::KeyOf(entry));
    }
    std::vector<FSAccessLib::EntryKey> keys;
};

// A picture whose walk broke where another deleted file's clusters lay between its own.
bool StitchStill(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                 std::vector<uint8_t>& buffer) {
    if (CheckFor(entry.name) != ContentCheck::Jpeg)
        return false;
    const std::vector<FSAccessLib::DataBlock> chain = entry.chain;
    const bool chainBroken = entry.chainBroken;
    if (FollowStillClusters(stream, volume, entry, buffer) != StillFragments::Stitched)
        return false;
    // The trail's walk is the stricter; the file must still pass the one every picture passes.
    if (MatchingBytes(stream, entry, buffer) >= entry.length)
        return true;
    entry.chain = chain;
    entry.chainBroken = chainBroken;
    return false;
}

} // namespace

void CommandLeaveOutOverwritten::Execute(DirEntry& entry) {
    if (!entry.overwritten || files_ == OverwrittenFiles::Write)
        return;
    leftOut += entry.target && !entry.isDirectory;
    entry.target = false;
}

void KalvoryBase::JudgeFreedData() {
    CommandCollectJudged collect;
    root_.Apply(collect);
    std::vector<DirEntry*> judged;
    for (const FSAccessLib::EntryKey& key : collect.keys)
        if (DirEntry* entry = FSAccessLib::Resolve(root_, key))
            judged.push_back(entry);
    std::vector<uint8_t> buffer;
    for (DirEntry* entry : judged) {
        // What the judging reads is what the save would read again.
        const std::vector<AAA::ByteRange> before = entry->DataRanges();
        const uint64_t start = before.empty() ? entry->start : before.front().start;
        uint64_t end = start;
        for (const AAA::ByteRange& range : before)
            end = std::max(end, range.End());
        // Judged files lie anywhere: reading ahead past this one's data would be for nothing.
        reader_->stream->LimitReadAhead(end);
        AAA::CaptureScope capture(reader_->capture, *reader_->stream, start);
        JudgeOne(*entry, buffer);
        const std::vector<AAA::ByteRange> ranges = entry->DataRanges();
        const bool oneRun = ranges.size() == 1 && ranges.front().start == start;
        capture.Finish(oneRun ? ranges.front().length : AAA::FileCapture::kNotOneRun);
    }
    reader_->stream->LimitReadAhead(UINT64_MAX);
}

void KalvoryBase::JudgeOne(DirEntry& entry, std::vector<uint8_t>& buffer) {
    // Streams follow their own packets: what they vouch for is judged already.
    if (IsStream(entry)) {
        AAA::Stream& source = *reader_->stream;
        const StreamFragments kept = ReadFromFreeRuns(entry) ? FollowStreamClusters(source, *reader_, entry, buffer)
                                                             : StitchStreamFragments(source, *reader_, entry, buffer);
        partialStreams_ += kept == StreamFragments::Partial;
        if (kept != StreamFragments::Unvouched)
            return;
    }
    // Clips follow their sample tables the same way.
    if (IsIsoMediaName(entry.name)) {
        const IsoMediaFragments kept = StitchIsoMedia(*reader_->stream, *reader_, entry, ClipLength::FromSlot);
        partialStreams_ += kept == IsoMediaFragments::Partial;
        if (kept != IsoMediaFragments::Unvouched)
            return;
    }
    if (!ReachesPastEnd(entry))
        Judge(entry, buffer);
}

bool KalvoryBase::ReachesPastEnd(const DirEntry& entry) const {
    for (const AAA::ByteRange& range : entry.DataRanges())
        if (range.start + range.length > reader_->ReadableEnd())
            return true;
    return false;
}

void KalvoryBase::Judge(DirEntry& entry, std::vector<uint8_t>& buffer) {
    const uint64_t matching = MatchingBytes(*reader_->stream, entry, buffer);
    if (matching >= entry.length || StitchStill(*reader_->stream, *reader_, entry, buffer))
        return;
    entry.overwritten = true;
    entry.matchingBytes = matching;
    ++overwrittenCount_;
    AAA::DebugLog(3, "%s: its data stops matching at byte %I64d of %I64d: other files' data stands there\n",
                  entry.name, matching, entry.length);
}

} // namespace Kalvory
