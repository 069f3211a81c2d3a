#pragma once
// The copy of the targets into the destination folder.
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "AAA_DestinationFolder.h"
#include "AAA_Digest.h"
#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"
#include "Commands.h"
#include "HostPathPlan.h"
#include "SaveOutcome.h"
#include "StagingArea.h"

namespace FSAccessLib {

// Copies targets into `destination` under their tree paths, never overwriting.
// Card names are untrusted: every path component is made safe (SafeHostPath.h)
// and created relative to the destination's descriptor, never through a link,
// so nothing is created outside `destination`; entries of the run whose paths
// meet get numbered names (HostPathPlan.h).
// A failed copy costs its entry only: the partial file is removed, the failure
// recorded, and the walk goes on. Cancellation, a source that went away and a
// full destination end the walk (the partial file removed likewise).
// Unreadable sectors of the card become zeros in the file, recorded by range.
// In card order, the walk plans every place and makes the folders, and
// CopyPlanned then writes the files in the order their data lies on the
// card. What the staging area holds is taken from it instead of the card.
// In which order files are written: as the walk meets them, or on the card's order.
enum class CopyOrder { Walk, Card };

class CommandCopyToDst : public Command {
public:
    CommandCopyToDst(AAA::WString destinationFolder, Restore::ProgressFileStream* sourceStream, uint64_t mediaBytes,
                     PartialFiles partialFiles = PartialFiles::Skip)
        : destination(std::move(destinationFolder)), source(sourceStream), mediaSize(mediaBytes),
          planner_(destination), partialFiles_(partialFiles) {}
    void Execute(DirEntry& entry) override;
    // Writes the files the walk planned. Outcomes stay in walk order.
    void CopyPlanned();
    void SetStaging(StagingArea* staging) { staging_ = staging; }
    void SetOrder(CopyOrder order) { order_ = order; }
    // Each written file's digest, from the bytes as they are written.
    void SetDigests(AAA::DigestMaker digests) { digests_ = std::move(digests); }
    // Entries saved under a numbered name so far.
    int RenamedCount() const { return planner_.RenamedCount(); }
    // Files placed higher up because their card folders were too deep.
    int MovedUpCount() const { return planner_.MovedUpCount(); }
    // Every target met so far, in walk order.
    const std::vector<SavedEntry>& Outcomes() const { return outcomes_; }

    AAA::WString destination;
    Restore::ProgressFileStream* source;
    uint64_t mediaSize;

private:
    const AAA::DestinationFolder& Folder();
    uint64_t ImageEnd();
    // The extents to write, in order, after the volume and image ends.
    std::vector<AAA::ByteRange> Pieces(const DirEntry& entry, SavedEntry& outcome);
    void CopyInOrder(const std::vector<size_t>& order, const std::vector<std::vector<AAA::ByteRange>>& ranges);
    void CopyFile(DirEntry& entry, const HostPlace& place, SavedEntry& outcome);
    void WritePieces(const std::vector<AAA::ByteRange>& pieces, DirEntry& entry, const HostPlace& place,
                     SavedEntry& outcome);
    // The file staged whole, moved into place; false when there is none.
    bool MoveStaged(const std::vector<AAA::ByteRange>& pieces, const DirEntry& entry, const HostPlace& place,
                    SavedEntry& outcome);
    // Records the failure; raises again what must end the walk.
    void Failed(const AAA::ExceptionBase& error, const HostPlace& place, SavedEntry& outcome);
    // The file's last two bytes, four more times (players want the held tail).
    uint64_t AppendHeldTail(const DataBlock& last, AAA::Stream& output, AAA::Digest* digest);
    uint64_t WriteBytes(const std::vector<uint8_t>& bytes, AAA::Stream& output, AAA::Digest* digest);
    // Writes a rewritten head; the pieces left after the card bytes it replaces.
    std::vector<AAA::ByteRange> WriteHead(const std::vector<AAA::ByteRange>& pieces, const std::vector<uint8_t>& head,
                                          AAA::Stream& output, AAA::Digest* digest);
    void RecordUnreadable(const std::vector<AAA::ByteRange>& pieces, SavedEntry& outcome) const;

    struct Planned {
        DirEntry* entry;
        HostPlace place;
        size_t outcome; // index into outcomes_
    };
    std::vector<Planned> planned_;
    std::unordered_map<const DirEntry*, Planned> plannedFolders_;
    // Makes the planned folders from the top down to `folder`, those not made yet.
    void MakePlannedFolders(DirEntry* folder);
    StagingArea* staging_ = nullptr;
    CopyOrder order_ = CopyOrder::Walk;
    AAA::DigestMaker digests_;
    // Digests of written files still being computed: the next file is copied
    // meanwhile, instead of waiting on the last one's hash.
    struct UnsettledDigest {
        size_t outcome; // index into outcomes_
        std::unique_ptr<AAA::Digest> digest;
    };
    std::deque<UnsettledDigest> unsettled_;
    static constexpr size_t kUnsettledFiles = 4;
    // Takes the digests of all but the newest `keep` files into their outcomes.
    void SettleDigests(size_t keep);
    void KeepDigest(SavedEntry& outcome, std::unique_ptr<AAA::Digest> digest);
    // Whether `outcome` is one of outcomes_ (a planned file's), not the walk's own being made.
    bool Holds(const SavedEntry& outcome) const {
        return !outcomes_.empty() && &outcome >= &outcomes_.front() && &outcome <= &outcomes_.back();
    }

    HostPathPlanner planner_;
    PartialFiles partialFiles_;
    std::optional<AAA::DestinationFolder> folder_;
    std::optional<uint64_t> imageEnd_;
    bool created_ = false; // the entry being copied has a file of its own
    std::vector<SavedEntry> outcomes_;
};

} // namespace FSAccessLib
