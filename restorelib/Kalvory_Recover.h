#pragma once
// Recovery strategies: each owns the reader that accepted the card, the tree of
// found entries and the destination, and runs a fixed sequence of steps.
#include <memory>
#include <vector>

#include "AAA_WideString.h"
#include "FSAccessCommon.h"
#include "Kalvory_Volume.h"
#include "Kalvory_Judge.h"
#include "JobTypes.h"

namespace Kalvory {

class KalvoryBase {
public:
    // Opens the card with each reader in turn (FAT12/16, FAT32, exFAT) and keeps
    // the first that accepts it; none accepting raises UnknownFileSystemException.
    // A whole card is read in its chosen volume (see OpenVolume).
    explicit KalvoryBase(const AAA::WString& devicePath, const VolumeChoice& choice = {});
    virtual ~KalvoryBase();
    KalvoryBase(const KalvoryBase&) = delete;
    KalvoryBase& operator=(const KalvoryBase&) = delete;

    // Searches, renames and selects; returns the number of targets.
    virtual int Verify() { return 0; }
    // Also opens the staging area there: what verification reads of files
    // found by their data is kept for the save (nothing when it cannot be).
    virtual void SetDestination(const AAA::WString& folder);
    // Every written file's digest, computed from the bytes as they are written.
    void SetDigests(AAA::DigestMaker digests) { digests_ = std::move(digests); }
    // Removes what verification staged in the destination (the save then reads the card).
    void DropStaged() { CloseStaging(); }
    // Copies every target under the destination. Refuses, before writing
    // anything, files larger than the destination can hold.
    virtual void Save();
    // Whether files that cross the end of a short image are saved up to it.
    void SetPartialFiles(FSAccessLib::PartialFiles partial) { partialFiles_ = partial; }
    // Whether deleted files whose data is judged to be other files' are written too.
    void SetOverwrittenFiles(OverwrittenFiles files) { overwrittenFiles_ = files; }

    FSAccessLib::FSAccessBase& Reader() const { return *reader_; }
    // The source's partitions and which volume is read.
    const SourceLayout& Layout() const { return layout_; }
    FSAccessLib::DirEntry& Root() { return root_; }
    const FSAccessLib::DirEntry& Root() const { return root_; }
    const AAA::WString& Destination() const { return destination_; }
    int TargetCount() const { return targetCount_; }
    // Files the last Save gave a numbered name, their own being taken in the run.
    int RenamedCount() const { return renamedCount_; }
    // Carved pictures Verify left out because every DCF folder name was taken.
    int UnplacedPictures() const { return unplacedPictures_; }
    // Selected files by how they were found after a format: read from folders
    // the scan found, and carved by their signatures.
    int FoundFolderFiles() const { return foundFolderFiles_; }
    int CarvedFiles() const { return carvedFiles_; }
    // Streams whose fragments could not all be found: kept up to what their
    // packets vouch for.
    int PartialFiles() const { return partialStreams_; }
    // Deleted files (and files of found folders) whose data fails its check:
    // other files' data stands where theirs was.
    int OverwrittenCount() const { return overwrittenCount_; }
    // Folders the reader stepped over: past the end of the volume or the image.
    int FoldersPastEnd() const { return reader_->foldersPastEnd; }
    // Every target file of the last Save, in walk order, with what became of
    // it (those the save never reached included when it stopped early).
    const std::vector<FSAccessLib::SavedEntry>& SaveOutcomes() const { return saveOutcomes_; }
    // Files the last Save placed higher up: their card folders were too deep.
    int MovedUpCount() const { return movedUpCount_; }
    // Bytes of the card no read could get (zeros stand in for them).
    uint64_t UnreadableBytes() const;
    // Reads every target file's data, so that UnreadableBytes and the stream's
    // record of unreadable sectors cover all of it (a listing without a save).
    void ReadTargetData();

protected:
    // The directory search and the deleted-name rebuild, with their headings;
    // `display` logs the tree found.
    void SearchDirectories(FSAccessLib::CommandDisplay& display);
    // Streams among the files whose clusters the card no longer allocates
    // follow their own packets; the other such files are judged by content.
    void JudgeFreedData();

    std::unique_ptr<FSAccessLib::FSAccessBase> reader_;
    // After reader_: it goes first, leaving the reader's stream without its tee.
    std::unique_ptr<FSAccessLib::StagingArea> staging_;
    AAA::DigestMaker digests_;
    AAA::WString devicePath_;
    AAA::WString destination_;
    int targetCount_ = 0;
    int renamedCount_ = 0;
    int unplacedPictures_ = 0;
    int foundFolderFiles_ = 0;
    int carvedFiles_ = 0;
    int partialStreams_ = 0;
    int overwrittenCount_ = 0;
    FSAccessLib::PartialFiles partialFiles_ = FSAccessLib::PartialFiles::Skip;
    OverwrittenFiles overwrittenFiles_ = OverwrittenFiles::Skip;
    std::vector<FSAccessLib::SavedEntry> saveOutcomes_;
    int movedUpCount_ = 0;
    FSAccessLib::DirEntry root_;
    SourceLayout layout_;

private:
    // Data past the readable end is partial, not judged.
    bool ReachesPastEnd(const FSAccessLib::DirEntry& entry) const;
    void Judge(FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);
    void JudgeOne(FSAccessLib::DirEntry& entry, std::vector<uint8_t>& buffer);
    void RefuseFilesTooLarge();
    // Keeps what the copy recorded and adds the targets it never reached.
    void KeepOutcomes(const FSAccessLib::CommandCopyToDst& copy);
    void CloseStaging();
};

// Directory search only: every entry the directories hold, deleted ones renamed.
class Kalvory_Directory : public KalvoryBase {
public:
    using KalvoryBase::KalvoryBase;
    int Verify() override;
};

// The sector search alone: only what the scan finds (the directories are not walked).
class Kalvory_Sector : public KalvoryBase {
public:
    using KalvoryBase::KalvoryBase;
    int Verify() override;

protected:
    // Selection, the media renaming steps and the final count, shared by both
    // sector strategies.
    int SelectRenameAndCount(FSAccessLib::CommandDisplay& display);
    void CountFoundAfterFormat();
};

// The directory search, then the sector search over what it left uncovered.
class Kalvory_DirAndSector : public Kalvory_Sector {
public:
    using Kalvory_Sector::Kalvory_Sector;
    int Verify() override;
};

// Chooses the targets among found entries. What the directories give is
// selected as the directory search alone selects it; of the rest, empty
// files, implausible carved streams and pictures outside a DCF folder are
// dropped.
class CommandSlectTarget : public FSAccessLib::Command {
public:
    explicit CommandSlectTarget(Restore::ProgressFileStream* sourceStream) : source(sourceStream) {}
    void Execute(FSAccessLib::DirEntry& entry) override;

    Restore::ProgressFileStream* source;
    int count = 0;
};

// Rebuilds the names of entries found deleted (first character lost) from the
// camcorder's known folder and file names.
class CommandRenameDeleted : public FSAccessLib::Command {
public:
    void Execute(FSAccessLib::DirEntry& entry) override;
};

// The rebuilt name of a deleted entry (exposed for tests).
AAA::WString RebuildDeletedName(const FSAccessLib::DirEntry& entry);

// The deleted-name rebuild for what folders found by the scan hold (the tree's
// own entries were renamed before the scan).
class CommandRenameFoundDeleted : public CommandRenameDeleted {
public:
    void Execute(FSAccessLib::DirEntry& entry) override;
};

// The strategy for a job type: 0 directory search, 1 directory and sector
// search, 2 sector search; unknown types give a strategy that finds nothing.
std::unique_ptr<KalvoryBase> MakeStrategy(Restore::StrategyType type, const AAA::WString& devicePath,
                                          const VolumeChoice& choice = {});

} // namespace Kalvory
