#include "Rescue_Imager.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

namespace Rescue {

namespace {

uint64_t AlignDown(uint64_t value, uint64_t unit) { return value / unit * unit; }

// Where the sector holding `position` ends, within [position, limit).
uint64_t SectorEnd(uint64_t position, uint64_t limit, uint64_t sector) {
    return std::min(limit, AlignDown(position, sector) + sector);
}

} // namespace

Imager::Imager(RescueSource& source, RescueImage& image, Map& map, ImagerOptions options, SaveMap saveMap,
               const std::atomic<bool>& stop, ShowProgress progress)
    : source_(source), image_(image), map_(map), options_(options), saveMap_(std::move(saveMap)), stop_(stop),
      progress_(std::move(progress)) {
    options_.sectorSize = std::max<uint32_t>(options_.sectorSize, 1);
    options_.copyBlock = std::max(AlignDown(options_.copyBlock, options_.sectorSize), uint64_t{options_.sectorSize});
}

void Imager::Free::operator()(uint8_t* bytes) const { std::free(bytes); }

ImagerStatus Imager::Status() const {
    ImagerStatus status;
    status.size = map_.Size();
    status.finished = map_.BytesIn(Area::Finished);
    status.bad = map_.BytesIn(Area::NonTrimmed) + map_.BytesIn(Area::NonScraped) + map_.BytesIn(Area::BadSector);
    status.pending = map_.BytesIn(Area::NonTried) + map_.BytesIn(Area::NonTrimmed) + map_.BytesIn(Area::NonScraped);
    status.readThisRun = readThisRun_;
    status.phase = map_.phase;
    status.elapsedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return status;
}

ImageEnd Imager::Run() {
    started_ = lastSave_ = lastProgress_ = std::chrono::steady_clock::now();
    constexpr uint64_t kPage = 4096;
    buffer_.reset(static_cast<uint8_t*>(std::aligned_alloc(kPage, (options_.copyBlock + kPage - 1) / kPage * kPage)));
    if (!buffer_) {
        end_ = ImageEnd::Failed;
        error_ = ENOMEM;
        return end_;
    }
    if (Begin(Phase::Copying, 1) == Step::Stop || CopyPass(Skipping::Skip) == Step::Stop)
        return end_;
    if (Begin(Phase::Copying, 2) == Step::Stop || CopyPass(Skipping::NoSkip) == Step::Stop)
        return end_;
    if (Begin(Phase::Trimming, 1) == Step::Stop || TrimPass() == Step::Stop)
        return end_;
    if (Begin(Phase::Scraping, 1) == Step::Stop || SectorPass(Area::NonScraped) == Step::Stop)
        return end_;
    for (int retry = 1; retry <= options_.retries; ++retry)
        if (Begin(Phase::Retrying, retry) == Step::Stop || SectorPass(Area::BadSector) == Step::Stop)
            return end_;
    map_.phase = Phase::Finished;
    map_.pass = 1;
    End(ImageEnd::Finished, 0);
    return end_;
}

Imager::Step Imager::CopyPass(Skipping skipping) {
    // Past an error the next blocks are likely bad too: jump further each time
    // in a row, leaving what was jumped over to the next pass.
    const uint64_t largestSkip =
        std::max<uint64_t>(options_.copyBlock, AlignDown(std::min<uint64_t>(map_.Size() / 100, 1ull << 30), options_.copyBlock));
    uint64_t skip = 0;
    uint64_t position = 0;
    while (const std::optional<MapBlock> area = map_.NextOf(Area::NonTried, position)) {
        const uint64_t end = std::min(area->End(), AlignDown(area->start, options_.copyBlock) + options_.copyBlock);
        uint64_t upTo = 0;
        if (ReadInto(area->start, end, Area::NonTrimmed, upTo) == Step::Stop)
            return Step::Stop;
        const bool bad = upTo < end;
        position = end;
        if (bad && skipping == Skipping::Skip) {
            skip = skip == 0 ? options_.copyBlock : std::min(skip * 2, largestSkip);
            position = end + skip;
        } else if (!bad) {
            skip = 0;
        }
    }
    return Step::Go;
}

Imager::Step Imager::TrimPass() {
    uint64_t position = 0;
    while (const std::optional<MapBlock> area = map_.NextOf(Area::NonTrimmed, position)) {
        if (TrimArea(*area) == Step::Stop)
            return Step::Stop;
        position = area->End();
    }
    return Step::Go;
}

// Reads inward from one edge of a failed block, in reads that double while
// they succeed and fall back to one sector after a failure, until one sector
// fails on its own; moves `edge` to where the reading stopped.
Imager::Step Imager::TrimEdge(uint64_t& edge, uint64_t limit, Edge side, bool& bad) {
    const uint64_t sector = options_.sectorSize;
    uint64_t size = sector;
    bad = false;
    while (side == Edge::Front ? edge < limit : edge > limit) {
        uint64_t start = 0, end = 0;
        if (side == Edge::Front) {
            start = edge;
            end = std::min(limit, AlignDown(edge, sector) + size);
        } else {
            end = edge;
            const uint64_t sectorEnd = AlignDown(edge - 1, sector) + sector;
            start = std::max(limit, sectorEnd > size ? sectorEnd - size : 0);
        }
        const bool single = end - start <= sector;
        uint64_t upTo = start;
        if (ReadInto(start, end, single ? Area::BadSector : Area::NonTrimmed, upTo) == Step::Stop)
            return Step::Stop;
        if (upTo == end) {
            edge = side == Edge::Front ? end : start;
            size = std::min<uint64_t>(size * 2, options_.copyBlock);
        } else if (single) {
            edge = side == Edge::Front ? end : start;
            bad = true;
            return Step::Go;
        } else {
            // What the failed read gave is finished: the edge moves to it, or
            // from behind, the reading stops before it.
            (side == Edge::Front ? edge : limit) = upTo;
            size = sector;
        }
    }
    return Step::Go;
}

Imager::Step Imager::TrimArea(MapBlock area) {
    uint64_t front = area.start;
    uint64_t back = area.End();
    bool bad = false;
    if (TrimEdge(front, back, Edge::Front, bad) == Step::Stop)
        return Step::Stop;
    if (!bad)
        return Step::Go;
    if (TrimEdge(back, front, Edge::Back, bad) == Step::Stop)
        return Step::Stop;
    // What is still untrimmed between the two bad sectors is left to the scraping.
    for (auto left = map_.NextOf(Area::NonTrimmed, front); left && left->start < back;
         left = map_.NextOf(Area::NonTrimmed, left->End()))
        map_.Set(left->start, std::min(left->End(), back), Area::NonScraped);
    return Step::Go;
}

Imager::Step Imager::SectorPass(Area over) {
    uint64_t position = 0;
    while (const std::optional<MapBlock> area = map_.NextOf(over, position)) {
        for (uint64_t at = area->start; at < area->End();) {
            const uint64_t end = SectorEnd(at, area->End(), options_.sectorSize);
            uint64_t upTo = 0;
            if (ReadInto(at, end, Area::BadSector, upTo) == Step::Stop)
                return Step::Stop;
            at = end;
        }
        position = area->End();
    }
    return Step::Go;
}

Imager::Step Imager::ReadInto(uint64_t start, uint64_t end, Area onFailure, uint64_t& upTo) {
    const SourceRead read = source_.ReadAt(start, buffer_.get(), static_cast<size_t>(end - start));
    readThisRun_ += read.bytes;
    uint64_t good = read.bytes;
    // Of a read that failed part way only whole sectors are kept.
    if (read.outcome != ReadOutcome::Read)
        good = AlignDown(start + good, options_.sectorSize) - start;
    if (good > 0) {
        if (const int error = image_.WriteAt(start, buffer_.get(), static_cast<size_t>(good)); error != 0)
            return End(ImageEnd::Failed, error);
        map_.Set(start, start + good, Area::Finished);
    }
    map_.currentPosition = upTo = start + good;
    if (read.outcome == ReadOutcome::Lost)
        return End(ImageEnd::SourceLost, read.error);
    if (read.outcome == ReadOutcome::Failed)
        return End(ImageEnd::Failed, read.error);
    // A source that ends before its size said counts as failing there.
    if (upTo < end) {
        const bool changed = map_.At(start + good) != onFailure;
        map_.Set(start + good, end, onFailure);
        if (changed && Save(SaveReason::StatusChange) == Step::Stop)
            return Step::Stop;
    }
    return AfterRead();
}

Imager::Step Imager::Begin(Phase phase, int pass) {
    map_.phase = phase;
    map_.pass = pass;
    return Save(SaveReason::StatusChange);
}

Imager::Step Imager::Save(SaveReason reason) {
    lastSave_ = std::chrono::steady_clock::now();
    if (const int error = saveMap_(map_, reason); error != 0) {
        end_ = ImageEnd::Failed;
        error_ = error;
        return Step::Stop;
    }
    return Step::Go;
}

Imager::Step Imager::AfterRead() {
    if (stop_.load())
        return End(ImageEnd::Interrupted, 0);
    const auto now = std::chrono::steady_clock::now();
    if (now - lastSave_ >= options_.saveEvery && Save(SaveReason::Periodic) == Step::Stop)
        return Step::Stop;
    if (progress_ && now - lastProgress_ >= options_.progressEvery) {
        lastProgress_ = now;
        progress_(Status());
    }
    return Step::Go;
}

Imager::Step Imager::End(ImageEnd end, int error) {
    end_ = end;
    error_ = error;
    // The map must never call finished what is not yet on the image's disk.
    if (const int flushed = image_.Flush(); flushed != 0 && error_ == 0) {
        end_ = ImageEnd::Failed;
        error_ = flushed;
    }
    if (const int saved = saveMap_(map_, SaveReason::End); saved != 0 && error_ == 0) {
        end_ = ImageEnd::Failed;
        error_ = saved;
    }
    if (progress_)
        progress_(Status());
    return Step::Stop;
}

} // namespace Rescue
