#include "ISOBMFF_Fragments.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "AAA_DebugLog.h"
#include "AVCHD_Fragments.h"
#include "ISOBMFF_Boxes.h"
#include "ISOBMFF_Moov.h"

namespace Kalvory {
namespace {

using FSAccessLib::DirEntry;

enum class ClusterCheck { Pass, Fail, Nothing };

// Free clusters hold zeros; the inside of a coded video sample never holds
// this many in a row (emulation prevention keeps runs to two).
constexpr size_t kZeroRun = 8;

bool HasZeroRun(const uint8_t* bytes, size_t size) {
    size_t run = 0;
    for (size_t i = 0; i < size; ++i) {
        run = bytes[i] == 0 ? run + 1 : 0;
        if (run >= kZeroRun)
            return true;
    }
    return false;
}

// A cluster that begins a file a camera writes is not the middle of a clip.
bool BeginsAnotherFile(const uint8_t* bytes, size_t size) {
    return IsIsoMediaStart(bytes, size) || (size >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) ||
           (size >= 4 && std::memcmp(bytes, "RIFF", 4) == 0) || (size >= 6 && std::memcmp(bytes, "<?xml ", 6) == 0);
}

using Piece = AAA::ByteRange;

class IsoStitcher {
public:
    IsoStitcher(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry, ClipLength length)
        : stream_(stream), volume_(volume), entry_(entry), lengthFrom_(length),
          cluster_(std::max<uint32_t>(volume.clusterSize, 1)) {}

    IsoMediaFragments Run() {
        const uint64_t start = entry_.start;
        if (start >= volume_.totalBytes)
            return IsoMediaFragments::Unvouched;
        const uint64_t limit = lengthFrom_ == ClipLength::FromSlot ? entry_.length : volume_.totalBytes - start;
        const TopLevelWalk walk = WalkTopLevelBoxes(stream_, start, limit);
        std::optional<FoundMoov> moov = FindMoov(stream_, volume_, start, walk);
        if (!moov)
            return IsoMediaFragments::Unvouched;
        moov_ = std::move(*moov);
        fileLength_ = lengthFrom_ == ClipLength::FromSlot ? entry_.length : MeasuredLength(walk);
        if (fileLength_ < moov_.file + moov_.Size())
            return IsoMediaFragments::Unvouched;
        return Follow();
    }

private:
    // The end of the boxes from the moov on, read where the moov was found.
    uint64_t MeasuredLength(const TopLevelWalk& walk) {
        if (walk.moovAt != 0)
            return walk.end;
        uint64_t end = moov_.file + moov_.Size();
        for (BoxHeader header; ReadBoxHeader(stream_, moov_.DiskOf(end - moov_.file), header) &&
                               IsTopLevelType(header.type) && header.type != BoxType("mdat") &&
                               header.size <= volume_.totalBytes - moov_.DiskOf(end - moov_.file);)
            end += header.size;
        return end;
    }

    IsoMediaFragments Follow() {
        const uint64_t clusters = (fileLength_ + cluster_ - 1) / cluster_;
        uint64_t runDisk = entry_.start, runFile = 0;
        for (uint64_t i = 1; i < clusters; ++i) {
            const uint64_t expected = runDisk + (i * cluster_ - runFile);
            if (Check(i, expected) != ClusterCheck::Fail)
                continue;
            const std::optional<uint64_t> next = FindContinuation(i, expected);
            if (!next)
                return GiveUp(runDisk, runFile, i * cluster_);
            runs_.push_back({runDisk, i * cluster_ - runFile});
            runDisk = *next;
            runFile = i * cluster_;
        }
        runs_.push_back({runDisk, fileLength_ - runFile});
        if (lengthFrom_ == ClipLength::FromBoxes)
            entry_.length = fileLength_;
        if (runs_.size() == 1)
            return IsoMediaFragments::Whole;
        SetChain();
        AAA::DebugLog(7, "\t%s: clip put together from %d fragments\n", entry_.name, static_cast<int>(runs_.size()));
        return IsoMediaFragments::Stitched;
    }

    std::vector<MediaSample>::const_iterator FirstSampleFrom(uint64_t offset) const {
        return std::lower_bound(moov_.tables.samples.begin(), moov_.tables.samples.end(), offset,
                                [](const MediaSample& s, uint64_t o) { return s.offset < o; });
    }

    bool Checked(const MediaSample& sample) const {
        return moov_.tables.tracks[sample.track].coding != SampleCoding::Unchecked && sample.size != 0;
    }

    // Whether a sample's bytes lie in [low, high): padding between samples
    // may well be zeros.
    bool InsideSomeSample(uint64_t low, uint64_t high) const {
        auto after = FirstSampleFrom(low + 1);
        if (after != moov_.tables.samples.end() && after->offset < high)
            return true;
        // Samples are sorted by start, not end: a long one before may reach here.
        for (auto before = after; before != moov_.tables.samples.begin() && after - before < 64;) {
            --before;
            if (before->offset + before->size > low)
                return true;
        }
        return false;
    }

    // The PCM chunks that [low, high) overlaps, a long one from before included.
    template <class Each>
    void ForEachPcmChunk(uint64_t low, uint64_t high, Each each) const {
        auto from = FirstSampleFrom(low + 1);
        for (int back = 0; from != moov_.tables.samples.begin() && back < 64; ++back)
            --from;
        for (auto chunk = from; chunk != moov_.tables.samples.end() && chunk->offset < high; ++chunk)
            if (moov_.tables.tracks[chunk->track].coding == SampleCoding::Pcm16 && chunk->offset + chunk->size > low)
                each(*chunk);
    }

    // The whole frames of `chunk` inside [low, high), when there are enough to judge.
    bool PcmSpan(const MediaSample& chunk, uint64_t low, uint64_t high, uint64_t& from, uint64_t& to) const {
        constexpr uint64_t kFewestFrames = 32;
        const uint64_t frame = 2 * uint64_t{std::max<uint32_t>(moov_.tables.tracks[chunk.track].channels, 1)};
        from = std::max(low, chunk.offset);
        from += (frame - (from - chunk.offset) % frame) % frame;
        to = std::min(high, chunk.offset + chunk.size);
        return to > from && (to - from) / frame >= kFewestFrames;
    }

    // Whether the cluster's bytes where the file has PCM sound (read into the
    // buffer) sound like it; none when it holds too little of it.
    std::optional<bool> PcmSounds(uint64_t low, uint64_t high) const {
        std::optional<bool> sounds;
        ForEachPcmChunk(low, high, [&](const MediaSample& chunk) {
            uint64_t from = 0, to = 0;
            if (!PcmSpan(chunk, low, high, from, to))
                return;
            const bool plausible = PlausiblePcm(moov_.tables.tracks[chunk.track], buffer_.data() + (from - low),
                                                static_cast<size_t>(to - from));
            sounds = sounds.value_or(true) && plausible;
        });
        return sounds;
    }

    // Whether the file's bytes [low, high) all lie inside one video sample,
    // where no run of zeros as long as kZeroRun can stand.
    bool InsideVideoSample(uint64_t low, uint64_t high) const {
        auto after = FirstSampleFrom(low + 1);
        if (after == moov_.tables.samples.begin())
            return false;
        const MediaSample& sample = *(after - 1);
        const SampleCoding coding = moov_.tables.tracks[sample.track].coding;
        const bool video = coding == SampleCoding::Avc || coding == SampleCoding::Hevc || coding == SampleCoding::Mpeg4Part2;
        return video && sample.offset < low && sample.offset + sample.size >= high;
    }

    // Tests what the file expects in its cluster `index` against the card's
    // cluster at `at`: the samples that begin there and the moov's bytes. A
    // cluster that begins another file or is free (all zeros) fails; PCM
    // sound must sound like it; a cluster with none of these fails when it
    // holds zeros where the file has the inside of a video sample.
    ClusterCheck Check(uint64_t index, uint64_t at) {
        const uint64_t low = index * cluster_, high = std::min(low + cluster_, fileLength_);
        const bool moov = moov_.file < high && low < moov_.file + moov_.Size();
        // Padding between samples holds nothing to test: it is not read.
        if (low >= moov_.file + moov_.Size() || (!moov && !InsideSomeSample(low, high)))
            return ClusterCheck::Nothing;
        if (at + (high - low) > volume_.totalBytes)
            return ClusterCheck::Fail;
        buffer_.resize(static_cast<size_t>(high - low));
        stream_.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        if (stream_.Read(buffer_.data(), static_cast<uint32_t>(buffer_.size())) != buffer_.size())
            return ClusterCheck::Fail;
        if (BeginsAnotherFile(buffer_.data(), buffer_.size()) ||
            std::all_of(buffer_.begin(), buffer_.end(), [](uint8_t b) { return b == 0; }))
            return ClusterCheck::Fail;
        bool checked = false;
        if (const std::optional<bool> sound = PcmSounds(low, high)) {
            if (!*sound)
                return ClusterCheck::Fail;
            checked = true;
        }
        for (auto sample = FirstSampleFrom(low); sample != moov_.tables.samples.end() && sample->offset < high; ++sample) {
            if (!Checked(*sample) || moov_.tables.tracks[sample->track].coding == SampleCoding::Pcm16)
                continue;
            const size_t from = static_cast<size_t>(sample->offset - low);
            if (!BeginsSample(moov_.tables.tracks[sample->track], buffer_.data() + from, buffer_.size() - from, sample->size))
                return ClusterCheck::Fail;
            checked = true;
        }
        if (moov) {
            const uint64_t from = std::max(low, moov_.file), to = std::min(high, moov_.file + moov_.Size());
            if (std::memcmp(buffer_.data() + (from - low), moov_.bytes.data() + (from - moov_.file), to - from) != 0)
                return ClusterCheck::Fail;
            checked = true;
        }
        if (checked)
            return ClusterCheck::Pass;
        if (InsideVideoSample(low, high) && HasZeroRun(buffer_.data(), buffer_.size()))
            return ClusterCheck::Fail;
        return ClusterCheck::Nothing;
    }

    // The first cluster from `index` on that tells where it lies: a sample
    // begins there or the moov's bytes are there. Sound only tells it is
    // sound, which any of the clip's own clusters of it is.
    std::optional<uint64_t> NextCheckable(uint64_t index) const {
        std::optional<uint64_t> found;
        for (auto sample = FirstSampleFrom(index * cluster_); sample != moov_.tables.samples.end(); ++sample)
            if (Checked(*sample) && moov_.tables.tracks[sample->track].coding != SampleCoding::Pcm16) {
                found = sample->offset / cluster_;
                break;
            }
        const uint64_t moovFirst = moov_.file / cluster_, moovLast = (moov_.file + moov_.Size() - 1) / cluster_;
        if (index <= moovLast) {
            const uint64_t moov = std::max(index, moovFirst);
            if (!found || moov < *found)
                found = moov;
        }
        return found;
    }

    // The card position of the file's cluster `index` when the run at
    // `expected` stopped holding it: the fragment whose first checkable
    // cluster passes and whose clusters before it fail nothing. The moov's
    // own place is tried first.
    std::optional<uint64_t> FindContinuation(uint64_t index, uint64_t expected) {
        const std::optional<uint64_t> checkable = NextCheckable(index);
        if (!checkable)
            return std::nullopt;
        const uint64_t ahead = (*checkable - index) * cluster_;
        const auto holds = [&](uint64_t candidate) {
            if (Check(*checkable, candidate + ahead) != ClusterCheck::Pass)
                return false;
            for (uint64_t k = index; k < *checkable; ++k)
                if (Check(k, candidate + (k - index) * cluster_) == ClusterCheck::Fail)
                    return false;
            return true;
        };
        const uint64_t low = *checkable * cluster_;
        if (moov_.file < low + cluster_ && low < moov_.file + moov_.Size()) {
            // The moov's pieces are where it was found: the cluster's place follows.
            const uint64_t relative = std::max(low, moov_.file) - moov_.file;
            const uint64_t home = moov_.DiskOf(relative) - (std::max(low, moov_.file) - low);
            if (home >= ahead && holds(home - ahead))
                return home - ahead;
        }
        const uint64_t limit = std::min(volume_.totalBytes, expected + kFragmentSearchBytes);
        for (uint64_t candidate = expected + cluster_; candidate + ahead + cluster_ <= limit; candidate += cluster_)
            if (holds(candidate))
                return candidate;
        // Or a fragment of unverifiable clusters only: the nearest place where
        // they fail nothing; the checkable cluster after them is sought again.
        for (uint64_t candidate = expected + cluster_; *checkable > index && candidate + ahead <= limit;
             candidate += cluster_) {
            bool fits = true;
            for (uint64_t k = index; k < *checkable && fits; ++k)
                fits = Check(k, candidate + (k - index) * cluster_) != ClusterCheck::Fail;
            if (fits)
                return candidate;
        }
        return std::nullopt;
    }

    IsoMediaFragments GiveUp(uint64_t runDisk, uint64_t runFile, uint64_t verifiedEnd) {
        runs_.push_back({runDisk, verifiedEnd - runFile});
        if (lengthFrom_ == ClipLength::FromBoxes)
            entry_.length = fileLength_;
        SetChain();
        entry_.partial = true;
        AAA::DebugLog(3, "%s: only %I64d of its %I64d bytes are the clip's own; kept as partial\n", entry_.name,
                      verifiedEnd, fileLength_);
        return IsoMediaFragments::Partial;
    }

    void SetChain() { SetChainFromRuns(entry_, runs_); }

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    DirEntry& entry_;
    ClipLength lengthFrom_;
    uint64_t cluster_;
    FoundMoov moov_;
    uint64_t fileLength_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<Piece> runs_;
};

} // namespace

IsoMediaFragments StitchIsoMedia(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                                 ClipLength length) {
    if (!TakenAsOneRun(entry))
        return IsoMediaFragments::Unvouched;
    return IsoStitcher(stream, volume, entry, length).Run();
}

} // namespace Kalvory
