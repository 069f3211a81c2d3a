// The saving step of every strategy: the destination's file-size limit, the
// copy, and the record of what became of each target.
#include <algorithm>
#include <string>
#include <unordered_set>

#include "AAA_CopyHelpers.h"
#include "StagingArea.h"

#include "AAA_DebugLog.h"
#include "AAA_DestinationFolder.h"
#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "AAA_StringTable.h"
#include "Kalvory_CardScan.h"
#include "Kalvory_Recover.h"
#include "AAA_MessageIds.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

// Names listed in a refusal before "and N more".
constexpr size_t kNamesListed = 10;

// Every target file, in walk order.
class CommandCollectTargetFiles : public FSAccessLib::Command {
public:
    void Execute(DirEntry& entry) override {
        if (entry.target && !entry.isDirectory)
            files.push_back(&entry);
    }
    std::vector<const DirEntry*> files;
};

// The bytes the copy writes for `entry`, the held tail and a rebuilt index included.
uint64_t WrittenLength(const DirEntry& entry) {
    return entry.length + (entry.holdTail && !entry.chain.empty() ? 8 : 0) +
           (entry.rewritten ? entry.rewritten->tail.size() : 0);
}

AAA::WString CardPathShown(const DirEntry& entry) {
    AAA::WString path = FSAccessLib::SafeHostPath(u"", entry);
    return path.empty() || path.front() != u'/' ? path : path.substr(1);
}

} // namespace

void KalvoryBase::RefuseFilesTooLarge() {
    const uint64_t limit = AAA::DestinationFolder(destination_).MaxFileBytes();
    CommandCollectTargetFiles targets;
    root_.Apply(targets);
    std::string names;
    size_t tooLarge = 0;
    for (const DirEntry* file : targets.files) {
        if (WrittenLength(*file) <= limit)
            continue;
        if (++tooLarge <= kNamesListed)
            names += (names.empty() ? "" : ", ") + AAA::ToUtf8(CardPathShown(*file)) + " (" +
                     std::to_string(WrittenLength(*file)) + " bytes)";
    }
    if (tooLarge == 0)
        return;
    if (tooLarge > kNamesListed)
        names += AAA::FillPlaceholders(AAA::LoadStringUtf8(AAA::Msg::AndMore), {std::to_string(tooLarge - kNamesListed)});
    const std::string text =
        AAA::FillPlaceholders(AAA::LoadStringUtf8(AAA::Msg::FileTooLarge), {std::to_string(limit), std::to_string(tooLarge), names});
    AAA::DebugLog(3, "%S\n", text);
    AAA::ThrowLogged<AAA::FileTooLargeException>("restorelib/Kalvory_Save", __LINE__, "FileTooLargeException()",
                                                 AAA::FileTooLargeException(AAA::Msg::FileTooLarge, AAA::FromUtf8(text)));
}

void KalvoryBase::SetDestination(const AAA::WString& folder) {
    CloseStaging();
    destination_ = folder;
    try {
        staging_ = std::make_unique<FSAccessLib::StagingArea>(folder, digests_);
        reader_->capture = staging_.get();
        reader_->stream->SetReadCache(staging_.get());
    } catch (const AAA::ExceptionBase& error) {
        // Not a failure: the save reads from the card what staging would have kept.
        AAA::DebugLog(3, "%s: no staging folder (%s); found files are read again when saved\n", folder,
                      AAA::SystemReason(error.ErrorNumber()));
    }
}

void KalvoryBase::CloseStaging() {
    if (reader_) {
        reader_->capture = nullptr;
        if (reader_->stream)
            reader_->stream->SetReadCache(nullptr);
    }
    staging_.reset();
}

void KalvoryBase::Save() {
    FSAccessLib::CommandTotalFileLength total;
    root_.Apply(total);
    saveOutcomes_.clear();
    try {
        RefuseFilesTooLarge();
        Restore::SetProgressTotal(total.total);
        FSAccessLib::CommandCopyToDst copy(destination_, reader_->stream.get(), MediaEnd(*reader_, layout_), partialFiles_);
        if (reader_)
            reader_->capture = nullptr; // the save's reads are its own
        copy.SetStaging(staging_.get());
        copy.SetOrder(FSAccessLib::CopyOrder::Card);
        copy.SetDigests(digests_);
        try {
            root_.Apply(copy);
            copy.CopyPlanned();
        } catch (...) {
            KeepOutcomes(copy);
            throw;
        }
        KeepOutcomes(copy);
    } catch (...) {
        CloseStaging(); // nothing staged outlives the save
        throw;
    }
    CloseStaging();
}

void KalvoryBase::KeepOutcomes(const FSAccessLib::CommandCopyToDst& copy) {
    renamedCount_ = copy.RenamedCount();
    movedUpCount_ = copy.MovedUpCount();
    std::unordered_set<const DirEntry*> met;
    for (const FSAccessLib::SavedEntry& outcome : copy.Outcomes()) {
        met.insert(outcome.entry);
        if (!outcome.folder)
            saveOutcomes_.push_back(outcome);
    }
    CommandCollectTargetFiles targets;
    root_.Apply(targets);
    for (const DirEntry* file : targets.files) {
        if (met.count(file))
            continue;
        FSAccessLib::SavedEntry missing;
        missing.entry = file;
        missing.cardPath = file->FullPath();
        missing.hostPath = FSAccessLib::SafeHostPath(destination_, *file);
        missing.length = file->length;
        missing.status = FSAccessLib::SaveStatus::NotReached;
        saveOutcomes_.push_back(std::move(missing));
    }
}

void KalvoryBase::ReadTargetData() {
    CommandCollectTargetFiles targets;
    root_.Apply(targets);
    FSAccessLib::CommandTotalFileLength total;
    root_.Apply(total);
    Restore::SetProgressTotal(total.total); // seeks move the percent and see a cancel
    Restore::ProgressFileStream& source = *reader_->stream;
    std::vector<uint8_t> buffer(AAA::kCopyPieceSize);
    const auto readRange = [&](uint64_t start, uint64_t length) {
        const uint64_t end = ReadEnd(*reader_, layout_, start);
        length = start >= end ? 0 : std::min(length, end - start);
        while (length > 0) {
            const auto piece = static_cast<uint32_t>(std::min<uint64_t>(length, buffer.size()));
            source.Seek(static_cast<int64_t>(start), AAA::SeekBegin);
            if (source.Read(buffer.data(), piece) == 0)
                return;
            start += piece;
            length -= piece;
        }
    };
    for (const DirEntry* file : targets.files)
        for (const AAA::ByteRange& range : file->DataRanges())
            readRange(range.start, range.length);
}

uint64_t KalvoryBase::UnreadableBytes() const { return reader_->stream ? reader_->stream->Unreadable().Bytes() : 0; }

} // namespace Kalvory
