#pragma once
// The card bytes a verification fetched for files it found by their data
// (carved files, deleted files it judged), kept in a hidden folder inside the
// destination until the save: the save then moves or copies them instead of
// reading the card a second time. Whatever the save did not take is removed
// with the folder, after a cancel or a failure as after a finished save.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_DestinationFolder.h"
#include "AAA_Digest.h"
#include "AAA_FileStream.h"
#include "AAA_ReadTee.h"

namespace FSAccessLib {

class StagingArea : public AAA::FileCapture, public AAA::ReadCache, private AAA::ReadTee {
public:
    // Opens `destination`; the hidden folder is made there (never one already
    // there) when the first bytes are staged.
    StagingArea(const AAA::WString& destination, AAA::DigestMaker digests);
    ~StagingArea() override;
    StagingArea(const StagingArea&) = delete;
    StagingArea& operator=(const StagingArea&) = delete;

    void Begin(AAA::FileStream& stream, uint64_t start) override;
    void End(AAA::FileStream& stream, uint64_t length) override;

    // A staged file that holds exactly the card's [start, start + length),
    // moved to `relative` under `folder`. Gives its digest (empty without
    // digests); nullopt when there is none such, or others need its bytes.
    std::optional<std::string> TakeWhole(uint64_t start, uint64_t length, const AAA::DestinationFolder& folder,
                                         const AAA::WString& relative);
    // Copies the card's [start, start + length) to `output`: staged bytes from
    // their staging files, the rest read from `card`. Each piece goes to `digest` too.
    void Copy(AAA::Stream& card, uint64_t start, uint64_t length, AAA::Stream& output, AAA::Digest* digest);
    // Counts which staged bytes the save will ask for, so that a staged file
    // is moved only when its bytes serve no other file, and files no target
    // needs are removed before the save begins.
    void PlanUses(const std::vector<std::vector<AAA::ByteRange>>& filesRanges);
    // A file of the save is written (or given up): staged files only it needed go.
    void Done(const std::vector<AAA::ByteRange>& ranges);

    // The card's bytes read again during verification come from here.
    size_t Fill(uint64_t offset, uint8_t* out, size_t count) override;

    // The hidden folder's name inside the destination.
    const std::string& FolderName() const { return folderName_; }
    uint64_t StagedBytes() const { return stagedBytes_; }
    size_t StagedFiles() const;

private:
    struct Segment {
        uint64_t start = 0;
        uint64_t appended = 0;  // bytes in its file
        uint64_t sequential = 0; // bytes at the file's start that are the card's from `start` on
        uint64_t wholeLength = 0;
        std::string digest;
        int uses = 0;
        bool gone = false;
        AAA::ByteRangeSet held; // card offsets
    };
    struct Run {
        uint64_t cardStart;
        uint64_t length;
        uint32_t segment;
        uint64_t filePosition;
    };

    void MakeFolder();
    void Fetched(uint64_t offset, const uint8_t* bytes, size_t count) override;
    void Append(Segment& segment, uint64_t offset, const uint8_t* bytes, size_t count);
    void HashLagging(const uint8_t* bytes, size_t count);
    void AddRun(uint32_t id, uint64_t offset, uint64_t count, uint64_t filePosition);
    void FinishDigest(Segment& segment, uint64_t length);
    void CloseActive();
    void Remove(uint32_t id);
    void GiveUp(int error);
    std::string FileName(uint32_t id) const { return std::to_string(id) + ".part"; }
    // The staging files a file of these card ranges is made from.
    std::vector<uint32_t> SegmentsFor(const std::vector<AAA::ByteRange>& ranges);
    // The staging file holding exactly the card's [start, start + length).
    std::optional<uint32_t> WholeSegment(uint64_t start, uint64_t length) const;
    // The runs that hold parts of [start, start + length), in card order.
    std::vector<const Run*> RunsWithin(uint64_t start, uint64_t length);

    AAA::DestinationFolder destination_;
    AAA::DigestMaker digests_;
    std::string folderName_;
    AAA::UniqueDescriptor folder_;
    std::vector<Segment> segments_;
    // By card offset. No run is longer than kRunBytes, so the runs that reach
    // a byte start at most that far before it.
    static constexpr uint64_t kRunBytes = 16u << 20;
    std::multimap<uint64_t, Run> runs_;
    std::multimap<uint64_t, Run>::iterator lastRun_ = runs_.end();
    std::multimap<uint64_t, uint32_t> byStart_;
    std::optional<AAA::FileStream> staged_; // the staging file the copy reads
    uint32_t stagedId_ = 0;
    AAA::UniqueDescriptor filling_; // the staging file Fill reads
    uint32_t fillingId_ = UINT32_MAX;
    bool failed_ = false;
    int depth_ = 0;
    std::optional<uint32_t> active_;
    AAA::UniqueDescriptor activeFile_;
    AAA::FileStream* stream_ = nullptr;
    // The active file's digest runs behind its end by up to kLagBytes, which
    // are held here: a file found to end before its last fetched bytes is
    // hashed up to its end without reading it back.
    std::unique_ptr<AAA::Digest> activeDigest_;
    std::vector<uint8_t> lag_;
    uint64_t hashed_ = 0;
    uint64_t stagedBytes_ = 0;
};

} // namespace FSAccessLib
