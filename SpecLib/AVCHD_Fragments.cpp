#include "AVCHD_Fragments.h"

#include <algorithm>
#include <optional>

#include "AAA_DebugLog.h"
#include "AVCHD_Files.h"

// GCC 12 reports the engaged payload of a std::optional<uint32_t> copied
// between these inlined loops as maybe uninitialised; it is not.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace Kalvory {
namespace {

// AVCHD streams are written in units of 32 packets.
constexpr uint64_t kAlignedUnitBytes = 32 * kSourcePacketBytes;

using FSAccessLib::DirEntry;

// Three packets from `at`, when all can be read.
std::optional<std::vector<uint8_t>> ReadWindow(AAA::Stream& stream, uint64_t at) {
    std::vector<uint8_t> window(kPacketWindowBytes);
    stream.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
    if (stream.Read(window.data(), kPacketWindowBytes) != kPacketWindowBytes)
        return std::nullopt;
    return window;
}

uint32_t Ats(const uint8_t* packet) { return PacketAts(packet); }
bool Continues(uint32_t last, uint32_t next) { return AtsContinues(last, next); }

class Stitcher {
public:
    Stitcher(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry, std::vector<uint8_t>& buffer)
        : stream_(stream), volume_(volume), entry_(entry), buffer_(buffer),
          cluster_(std::max<uint32_t>(volume.clusterSize, 1)) {}

    StreamFragments Run() {
        uint64_t fragment = entry_.start; // disk offset of the fragment being verified
        std::optional<uint32_t> lastAts;  // of the last packet before this fragment
        for (;;) {
            uint64_t verified = Lead();
            std::optional<uint32_t> before = lastAts;
            uint64_t end = 0; // the cluster start the fragment ends at
            for (;;) {
                verified += VerifyPackets(fragment + verified, before);
                // A start fewer than one aligned unit of packets vouch for is no
                // stream of ours to judge: it is left as it is.
                if (done_ == 0 && verified < kAlignedUnitBytes)
                    return StreamFragments::Unvouched;
                if (done_ + verified >= entry_.length)
                    return Finish(fragment, entry_.length - done_);
                // Fragments meet only at cluster starts: packets that stop within
                // a packet of one end the fragment there.
                end = (verified + cluster_ / 2) / cluster_ * cluster_;
                if (end > 0 && (verified > end ? verified - end : end - verified) < kSourcePacketBytes)
                    break;
                // Elsewhere a break in the times inside one recording: its
                // packets go on, or the rest is not the stream's.
                if (!OnPacketGrid(fragment + verified, 1))
                    return GiveUp(fragment, verified);
                before.reset();
            }
            if (done_ + end >= entry_.length)
                return Finish(fragment, entry_.length - done_);
            runs_.push_back({fragment, end});
            done_ += end;
            lastAts = LastAtsBefore(fragment, end);
            const std::optional<uint64_t> next = lastAts ? FindContinuation(fragment + end, *lastAts) : std::nullopt;
            if (!next) {
                runs_.pop_back();
                done_ -= end;
                return GiveUp(fragment, std::min(verified, end));
            }
            fragment = *next;
        }
    }

private:
    using Piece = AAA::ByteRange;

    // Bytes from the fragment's start to the first whole packet in it.
    uint64_t Lead() const { return (kSourcePacketBytes - done_ % kSourcePacketBytes) % kSourcePacketBytes; }

    // Bytes of consecutive packets from `at` whose sync bytes stand and whose
    // arrival times each follow the one before (the first follows `before`
    // when given), up to the stream's claimed end.
    uint64_t VerifyPackets(uint64_t at, std::optional<uint32_t> before) {
        buffer_.resize(kStreamReadBytes);
        const uint64_t wanted = entry_.length - done_ + kSourcePacketBytes;
        uint64_t verified = 0;
        while (verified < wanted) {
            stream_.Seek(static_cast<int64_t>(at + verified), AAA::SeekBegin);
            // No further than the stream can reach: what follows is the next file's.
            const uint64_t left = (wanted - verified + kSourcePacketBytes - 1) / kSourcePacketBytes * kSourcePacketBytes;
            const uint32_t piece = left < kStreamReadBytes ? static_cast<uint32_t>(left) : kStreamReadBytes;
            const uint32_t n = stream_.Read(buffer_.data(), piece);
            for (uint32_t k = 0; k + kSourcePacketBytes <= n; k += kSourcePacketBytes) {
                const uint8_t* packet = buffer_.data() + k;
                const uint32_t ats = Ats(packet);
                if (packet[4] != 0x47 || (before && !Continues(*before, ats)))
                    return verified;
                before = ats;
                verified += kSourcePacketBytes;
            }
            if (n < piece)
                return verified;
        }
        return verified;
    }

    // The arrival time of the last packet wholly inside the fragment.
    std::optional<uint32_t> LastAtsBefore(uint64_t fragment, uint64_t bytes) {
        const uint64_t fileEnd = done_;
        const uint64_t lastPacket = fileEnd / kSourcePacketBytes * kSourcePacketBytes - kSourcePacketBytes;
        if (lastPacket < fileEnd - bytes)
            return std::nullopt;
        const auto window = ReadWindow(stream_, fragment + (lastPacket - (fileEnd - bytes)));
        return window ? std::optional<uint32_t>(Ats(window->data())) : std::nullopt;
    }

    // The cluster start whose packets (where the file's packet grid puts them)
    // continue the stream's arrival times.
    std::optional<uint64_t> FindContinuation(uint64_t after, uint32_t lastAts) {
        const uint64_t lead = Lead();
        const uint64_t limit = std::min(volume_.totalBytes, after + kFragmentSearchBytes);
        for (uint64_t candidate = after; candidate + lead + kPacketWindowBytes <= limit; candidate += cluster_) {
            const auto window = ReadWindow(stream_, candidate + lead);
            if (!window)
                return std::nullopt;
            const uint8_t* packets = window->data();
            // The packet cut by the fragment's end lies between: a step or two.
            bool continues = true;
            uint32_t previous = lastAts;
            for (uint32_t i = 0; i < 3 && continues; ++i) {
                const uint8_t* packet = packets + i * kSourcePacketBytes;
                continues = packet[4] == 0x47 && Continues(previous, Ats(packet));
                previous = Ats(packet);
            }
            if (continues)
                return candidate;
        }
        return std::nullopt;
    }

    // The next `packets` packets from `at` (a packet start) have their sync bytes.
    bool OnPacketGrid(uint64_t at, uint32_t packets) {
        const auto window = ReadWindow(stream_, at);
        if (!window)
            return false;
        for (uint32_t i = 0; i < packets; ++i)
            if ((*window)[i * kSourcePacketBytes + 4] != 0x47)
                return false;
        return true;
    }

    StreamFragments Finish(uint64_t fragment, uint64_t bytes) {
        runs_.push_back({fragment, bytes});
        if (runs_.size() == 1)
            return StreamFragments::Whole;
        SetChain();
        AAA::DebugLog(7, "\t%s: stream put together from %d fragments\n", entry_.name, static_cast<int>(runs_.size()));
        return StreamFragments::Stitched;
    }

    StreamFragments GiveUp(uint64_t fragment, uint64_t verified) {
        runs_.push_back({fragment, verified});
        SetChain();
        entry_.partial = true;
        AAA::DebugLog(3, "%s: only %I64d of its %I64d bytes are the stream's own; kept as partial\n", entry_.name,
                      done_ + verified, entry_.length);
        return StreamFragments::Partial;
    }

    void SetChain() { SetChainFromRuns(entry_, runs_); }

    AAA::Stream& stream_;
    const FSAccessLib::FSAccessBase& volume_;
    DirEntry& entry_;
    std::vector<uint8_t>& buffer_;
    uint64_t cluster_;
    uint64_t done_ = 0; // file bytes in the fragments so far
    std::vector<Piece> runs_;
};

} // namespace

uint32_t PacketAts(const uint8_t* packet) {
    return (uint32_t{packet[0]} << 24 | uint32_t{packet[1]} << 16 | uint32_t{packet[2]} << 8 | packet[3]) & kAtsMask;
}

bool AtsContinues(uint32_t last, uint32_t next) {
    const uint32_t gap = (next - last) & kAtsMask;
    return gap != 0 && gap < kAtsWrapGapLimit;
}

bool TakenAsOneRun(const DirEntry& entry) {
    // A chain broken at its first step was stretched from the first cluster.
    return entry.chain.empty() ||
           (entry.chainBroken && entry.chain.size() == 1 && entry.chain.front().start == entry.start);
}

StreamFragments StitchStreamFragments(AAA::Stream& stream, const FSAccessLib::FSAccessBase& volume, DirEntry& entry,
                                      std::vector<uint8_t>& buffer) {
    if (!TakenAsOneRun(entry) || entry.length < kPacketWindowBytes)
        return StreamFragments::Unvouched;
    return Stitcher(stream, volume, entry, buffer).Run();
}

void SetChainFromRuns(FSAccessLib::DirEntry& entry, const std::vector<AAA::ByteRange>& runs) {
    entry.chain.clear();
    entry.chainBroken = false;
    for (const AAA::ByteRange& run : runs)
        if (run.length > 0)
            entry.chain.emplace_back(run.start, run.length, &entry);
}

} // namespace Kalvory
