#include "CopyToDst.h"

#include "AAA_Progress.h"

#include <algorithm>
#include <memory>
#include <cerrno>

#include "AAA_CopyHelpers.h"
#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_MessageIds.h"

namespace FSAccessLib {
namespace {

constexpr const char* kSourceFile = "FSAccessLib/CopyToDst";

// start + length beyond the medium; a sum that wraps past 2^64 is beyond it too.
bool OutOfMedia(uint64_t start, uint64_t length, uint64_t mediaSize) {
    return length > mediaSize || start > mediaSize - length;
}

void LogCopyLine(const char* verb, const DirEntry& entry, const AAA::WString& shownPath) {
    AAA::DebugLog(7, verb);
    AAA::DebugLog(7, "Start=0x%016I64X, Size=0x%08I64X, File=", entry.start, entry.length);
    AAA::DebugLog(7, "%s\n", shownPath);
}

bool EndsTheWalk(const AAA::ExceptionBase& error) {
    return dynamic_cast<const AAA::CancellationException*>(&error) != nullptr ||
           dynamic_cast<const AAA::SourceLostException*>(&error) != nullptr || error.ErrorNumber() == ENOSPC ||
           error.ErrorNumber() == EDQUOT;
}

// "0x200+0x200 0x1000+0x200": ranges as the log shows them.
std::string RangesText(const std::vector<AAA::ByteRange>& ranges) {
    std::string text;
    char piece[48];
    for (const AAA::ByteRange& range : ranges) {
        std::snprintf(piece, sizeof piece, "%s0x%llx+0x%llx", text.empty() ? "" : " ",
                      static_cast<unsigned long long>(range.start), static_cast<unsigned long long>(range.length));
        text += piece;
    }
    return text;
}

} // namespace

const AAA::DestinationFolder& CommandCopyToDst::Folder() {
    if (!folder_)
        folder_.emplace(destination);
    return *folder_;
}

uint64_t CommandCopyToDst::ImageEnd() {
    if (!imageEnd_)
        imageEnd_ = static_cast<uint64_t>(source->Length());
    return *imageEnd_;
}

void CommandCopyToDst::Execute(DirEntry& entry) {
    // The log shows the tree path; files go to the sanitised host path.
    const AAA::WString shownPath = destination + entry.FullPath();
    if (!entry.target) {
        LogCopyLine("SKIP...\t", entry, shownPath);
        return;
    }
    LogCopyLine("COPYING\t", entry, shownPath);
    if (!entry.isDirectory && source == nullptr)
        AAA::ThrowLogged<AAA::ArgumentException>(kSourceFile, __LINE__, "AAA::ArgumentException()");
    Folder(); // a destination that cannot be opened ends the save
    const HostPlace place = planner_.AssignPlace(entry);
    SavedEntry outcome;
    outcome.entry = &entry;
    outcome.cardPath = entry.FullPath();
    outcome.hostPath = place.path;
    outcome.folder = entry.isDirectory;
    outcome.length = entry.isDirectory ? 0 : entry.length;
    outcome.movedUp = place.movedUp;
    outcome.renamed = place.numbered;
    created_ = false;
    if (order_ == CopyOrder::Card) {
        // Made when the first file inside needs them: as the walk would, a
        // folder is made just before what goes into it.
        if (entry.isDirectory)
            plannedFolders_.emplace(&entry, Planned{&entry, place, outcomes_.size()});
        else
            planned_.push_back({&entry, place, outcomes_.size()});
        outcome.status = entry.isDirectory ? SaveStatus::Written : SaveStatus::NotReached;
        outcomes_.push_back(std::move(outcome));
        return;
    }
    try {
        if (!entry.isDirectory)
            CopyFile(entry, place, outcome);
        else if (!place.mergedFolder)
            Folder().MakeFolder(place.relative);
    } catch (const AAA::ExceptionBase& error) {
        Failed(error, place, outcome);
    }
    outcomes_.push_back(std::move(outcome));
}

void CommandCopyToDst::CopyPlanned() {
    // On the card's order: a card reader streams, and seeks cost a USB reader dearly.
    std::vector<std::vector<AAA::ByteRange>> ranges(planned_.size());
    std::vector<size_t> order(planned_.size());
    for (size_t i = 0; i < planned_.size(); ++i) {
        ranges[i] = planned_[i].entry->DataRanges();
        order[i] = i;
    }
    const auto firstByte = [&](size_t i) { return ranges[i].empty() ? UINT64_MAX : ranges[i].front().start; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return firstByte(a) < firstByte(b); });
    if (staging_)
        staging_->PlanUses(ranges);
    try {
        CopyInOrder(order, ranges);
    } catch (...) {
        SettleDigests(0); // what was written before the walk ended keeps its digest
        throw;
    }
    SettleDigests(0);
    planned_.clear();
    // Folders no file went into are made too, in walk order.
    std::vector<Planned> empty;
    for (const auto& [folder, plan] : plannedFolders_)
        empty.push_back(plan);
    std::sort(empty.begin(), empty.end(), [](const Planned& a, const Planned& b) { return a.outcome < b.outcome; });
    for (const Planned& folder : empty)
        MakePlannedFolders(folder.entry);
}

void CommandCopyToDst::CopyInOrder(const std::vector<size_t>& order,
                                   const std::vector<std::vector<AAA::ByteRange>>& ranges) {
    for (const size_t i : order) {
        Planned& file = planned_[i];
        SavedEntry& outcome = outcomes_[file.outcome];
        MakePlannedFolders(file.entry->parent); // a full destination ends the save here, naming the folder
        outcome.status = SaveStatus::Written;
        created_ = false;
        try {
            CopyFile(*file.entry, file.place, outcome);
        } catch (const AAA::ExceptionBase& error) {
            if (staging_)
                staging_->Done(ranges[i]);
            Failed(error, file.place, outcome);
            continue;
        }
        if (staging_)
            staging_->Done(ranges[i]);
    }
}

void CommandCopyToDst::MakePlannedFolders(DirEntry* folder) {
    std::vector<DirEntry*> chain;
    for (DirEntry* at = folder; at != nullptr; at = at->parent)
        if (plannedFolders_.count(at))
            chain.push_back(at);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        const Planned plan = plannedFolders_.at(*it);
        plannedFolders_.erase(*it);
        SavedEntry& outcome = outcomes_[plan.outcome];
        try {
            if (!plan.place.mergedFolder)
                Folder().MakeFolder(plan.place.relative);
        } catch (const AAA::ExceptionBase& error) {
            created_ = false;
            Failed(error, plan.place, outcome);
        }
    }
}

std::vector<AAA::ByteRange> CommandCopyToDst::Pieces(const DirEntry& entry, SavedEntry& outcome) {
    std::vector<AAA::ByteRange> pieces = entry.DataRanges();
    const size_t before = pieces.size();
    // Bytes before the volume, through the card window, are bounded by the card alone.
    std::erase_if(pieces, [&](const AAA::ByteRange& piece) {
        return !source->InCardWindow(piece.start) && OutOfMedia(piece.start, piece.length, mediaSize);
    });
    for (size_t i = pieces.size(); i < before; ++i)
        AAA::DebugLog(7, "\t->Out of media range.\n"); // a block beyond the volume: the file is shorter
    if (entry.chain.empty() && pieces.empty()) {
        outcome.status = SaveStatus::OutOfMedia;
        return pieces;
    }
    // Only what lies before the image's end: the file up to its first missing byte.
    const uint64_t imageEnd = ImageEnd();
    const auto endOf = [&](const AAA::ByteRange& p) {
        return source->InCardWindow(p.start) ? AAA::FileStream::kCardWindow + source->Origin() + imageEnd : imageEnd;
    };
    const auto cut = std::find_if(pieces.begin(), pieces.end(), [&](const AAA::ByteRange& p) { return p.End() > endOf(p); });
    if (cut == pieces.end())
        return pieces;
    outcome.cutAtImageEnd = true;
    const uint64_t end = endOf(*cut);
    if (partialFiles_ == PartialFiles::Skip) {
        outcome.status = SaveStatus::SkippedPartial;
        AAA::DebugLog(3, "%s: crosses the end of the image (0x%I64X); not saved: partial files were not asked for\n",
                      entry.FullPath(), end);
        return {};
    }
    if (cut->start < end)
        cut->length = end - cut->start;
    pieces.erase(cut->start < end ? cut + 1 : cut, pieces.end());
    AAA::DebugLog(3, "%s: crosses the end of the image (0x%I64X); saved up to it\n", entry.FullPath(), end);
    return pieces;
}

void CommandCopyToDst::CopyFile(DirEntry& entry, const HostPlace& place, SavedEntry& outcome) {
    const std::vector<AAA::ByteRange> pieces = Pieces(entry, outcome);
    if (outcome.status != SaveStatus::Written)
        return;
    if (Folder().Exists(place.relative)) {
        outcome.status = SaveStatus::AlreadyThere;
        return;
    }
    if (outcome.cutAtImageEnd)
        entry.partial = true;
    if (!MoveStaged(pieces, entry, place, outcome))
        WritePieces(pieces, entry, place, outcome);
    RecordUnreadable(pieces, outcome);
    Restore::ProgressFiles.fetch_add(1);
    if (!outcome.unreadable.empty())
        AAA::DebugLog(3, "%s: saved with zeros for the bytes the card could not give: %S\n", place.path,
                      RangesText(outcome.unreadable));
}

bool CommandCopyToDst::MoveStaged(const std::vector<AAA::ByteRange>& pieces, const DirEntry& entry,
                                  const HostPlace& place, SavedEntry& outcome) {
    const bool heldTail = entry.holdTail && !entry.chain.empty() && !outcome.cutAtImageEnd;
    if (!staging_ || pieces.size() != 1 || heldTail || entry.rewritten)
        return false;
    const std::optional<std::string> digest =
        staging_->TakeWhole(pieces.front().start, pieces.front().length, Folder(), place.relative);
    if (!digest)
        return false;
    created_ = true;
    outcome.written = pieces.front().length;
    outcome.digest = *digest;
    Restore::CountWrittenWithoutWrite(outcome.written);
    return true;
}

void CommandCopyToDst::WritePieces(const std::vector<AAA::ByteRange>& pieces, DirEntry& entry, const HostPlace& place,
                                   SavedEntry& outcome) {
    Restore::ProgressFileStream output(Folder().CreateFile(place.relative).Release(), place.path);
    created_ = true;
    std::unique_ptr<AAA::Digest> digest = digests_ ? digests_() : nullptr;
    // A file cut at the image's end is written as the card has it.
    const RewrittenBytes* rewritten = outcome.cutAtImageEnd ? nullptr : entry.rewritten.get();
    const std::vector<AAA::ByteRange> kept = rewritten ? WriteHead(pieces, rewritten->head, output, digest.get()) : pieces;
    uint64_t at = rewritten ? rewritten->head.size() : 0;
    for (const AAA::ByteRange& piece : kept) {
        if (staging_)
            staging_->Copy(*source, piece.start, piece.length, output, digest.get());
        else
            AAA::CopyExtent(*source, piece.start, piece.length, output, digest.get());
        at += piece.length;
    }
    outcome.written = at;
    if (rewritten)
        outcome.written += WriteBytes(rewritten->tail, output, digest.get());
    if (entry.holdTail && !entry.chain.empty() && !outcome.cutAtImageEnd)
        outcome.written += AppendHeldTail(entry.chain.back(), output, digest.get());
    if (digest)
        KeepDigest(outcome, std::move(digest));
}

void CommandCopyToDst::KeepDigest(SavedEntry& outcome, std::unique_ptr<AAA::Digest> digest) {
    if (order_ != CopyOrder::Card || !Holds(outcome)) {
        outcome.digest = digest->Final();
        return;
    }
    unsettled_.push_back({static_cast<size_t>(&outcome - outcomes_.data()), std::move(digest)});
    SettleDigests(kUnsettledFiles);
}

void CommandCopyToDst::SettleDigests(size_t keep) {
    for (; unsettled_.size() > keep; unsettled_.pop_front()) {
        SavedEntry& outcome = outcomes_[unsettled_.front().outcome];
        const std::string digest = unsettled_.front().digest->Final();
        if (outcome.status == SaveStatus::Written)
            outcome.digest = digest;
    }
}

void CommandCopyToDst::RecordUnreadable(const std::vector<AAA::ByteRange>& pieces, SavedEntry& outcome) const {
    uint64_t at = 0;
    for (const AAA::ByteRange& piece : pieces) {
        for (const AAA::ByteRange& bad : source->Unreadable().Within(piece.start, piece.length))
            outcome.unreadable.push_back({at + (bad.start - piece.start), bad.length});
        at += piece.length;
    }
}

void CommandCopyToDst::Failed(const AAA::ExceptionBase& error, const HostPlace& place, SavedEntry& outcome) {
    if (created_)
        Folder().RemoveFile(place.relative); // never a partial file that looks recovered
    const bool cancelled = dynamic_cast<const AAA::CancellationException*>(&error) != nullptr;
    if (cancelled)
        AAA::DebugLog(7, "\nCANCELED\n");
    outcome.status = cancelled ? SaveStatus::NotReached : SaveStatus::Failed;
    outcome.written = 0;
    outcome.digest.clear();
    outcome.unreadable.clear();
    outcome.error = error.ErrorNumber();
    const AAA::WString why = outcome.error != 0 ? AAA::SystemReason(outcome.error) : error.MessageText();
    outcome.reason = place.path + u": " + why;
    if (!cancelled)
        AAA::DebugLog(3, "%s: not saved: %s\n", place.path, why);
    if (!EndsTheWalk(error))
        return;
    // A planned file's outcome is held already; a folder's is pushed after this returns.
    if (!Holds(outcome))
        outcomes_.push_back(outcome);
    if (cancelled || dynamic_cast<const AAA::SourceLostException*>(&error) != nullptr)
        throw; // the stream named the card and the reason
    AAA::IOException full(AAA::Msg::NoFreeSpace);
    full.SetErrorNumber(error.ErrorNumber());
    full.AddDetail(outcome.reason);
    throw full;
}

uint64_t CommandCopyToDst::WriteBytes(const std::vector<uint8_t>& bytes, AAA::Stream& output, AAA::Digest* digest) {
    if (bytes.empty())
        return 0;
    if (digest)
        digest->Update(bytes.data(), bytes.size());
    output.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return bytes.size();
}

std::vector<AAA::ByteRange> CommandCopyToDst::WriteHead(const std::vector<AAA::ByteRange>& pieces,
                                                        const std::vector<uint8_t>& head, AAA::Stream& output,
                                                        AAA::Digest* digest) {
    if (head.empty())
        return pieces;
    WriteBytes(head, output, digest);
    // The card's bytes the head stands for are not copied.
    std::vector<AAA::ByteRange> rest;
    uint64_t skip = head.size();
    for (AAA::ByteRange piece : pieces) {
        const uint64_t drop = std::min(skip, piece.length);
        skip -= drop;
        piece.start += drop;
        piece.length -= drop;
        if (piece.length > 0)
            rest.push_back(piece);
    }
    return rest;
}

uint64_t CommandCopyToDst::AppendHeldTail(const DataBlock& last, AAA::Stream& output, AAA::Digest* digest) {
    const uint64_t end = last.start + last.length;
    if (end < last.start || end < 2 || end - 2 > static_cast<uint64_t>(INT64_MAX))
        return 0; // no two bytes end at a reachable offset
    source->Seek(static_cast<int64_t>(end - 2), AAA::SeekBegin);
    uint8_t tail[2] = {};
    if (source->Read(tail, 2) != 2)
        return 0;
    for (int i = 0; i < 4; ++i) {
        if (digest)
            digest->Update(tail, 2);
        output.Write(tail, 2);
    }
    AAA::DebugLog(7, "\tADD %d bytes hold\n", 2);
    return 8;
}

} // namespace FSAccessLib
