#pragma once
// Copies a failing source to an image in the passes GNU ddrescue makes: large
// blocks skipping ahead past errors, then the skipped parts, then trimming the
// failed blocks from their edges, scraping what is left sector by sector, and
// retries over the bad sectors. Only areas the map does not call finished are
// ever read, so a run resumed from its map reads nothing twice.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "Rescue_Devices.h"
#include "Rescue_Map.h"

namespace Rescue {

struct ImagerOptions {
    uint32_t sectorSize = 512;
    uint32_t copyBlock = 1u << 20;
    int retries = 0;
    // The map is written at least this often, and on every area found bad.
    std::chrono::milliseconds saveEvery{2000};
    std::chrono::milliseconds progressEvery{200};
};

enum class ImageEnd { Finished, Interrupted, SourceLost, Failed };

struct ImagerStatus {
    uint64_t size = 0;
    uint64_t finished = 0;   // bytes in the image as read
    uint64_t bad = 0;        // bytes that failed so far (not tried again yet, or for good)
    uint64_t pending = 0;    // bytes still to read: not tried, not trimmed, not scraped
    uint64_t readThisRun = 0;
    Phase phase = Phase::Copying;
    double elapsedSeconds = 0;
};

enum class SaveReason { Periodic, StatusChange, End };

class Imager {
public:
    // `saveMap` writes the map and returns 0 or an error number; `stop` is
    // looked at between reads.
    using SaveMap = std::function<int(const Map&, SaveReason)>;
    using ShowProgress = std::function<void(const ImagerStatus&)>;

    Imager(RescueSource& source, RescueImage& image, Map& map, ImagerOptions options, SaveMap saveMap,
           const std::atomic<bool>& stop, ShowProgress progress = {});

    ImageEnd Run();
    // The error number that ended a run as SourceLost or Failed.
    int Error() const { return error_; }
    ImagerStatus Status() const;

private:
    enum class Step { Go, Stop };
    enum class Skipping { Skip, NoSkip };
    enum class Edge { Front, Back };

    Step CopyPass(Skipping skipping);
    Step TrimPass();
    Step SectorPass(Area over);
    Step TrimArea(MapBlock area);
    Step TrimEdge(uint64_t& edge, uint64_t limit, Edge side, bool& bad);
    // One read of [start, end) into the image; what was read becomes
    // finished, the rest `onFailure`. `upTo` is where the good bytes end.
    Step ReadInto(uint64_t start, uint64_t end, Area onFailure, uint64_t& upTo);
    Step Begin(Phase phase, int pass);
    Step Save(SaveReason reason);
    Step AfterRead();
    Step End(ImageEnd end, int error);

    RescueSource& source_;
    RescueImage& image_;
    Map& map_;
    ImagerOptions options_;
    SaveMap saveMap_;
    const std::atomic<bool>& stop_;
    ShowProgress progress_;
    struct Free {
        void operator()(uint8_t* bytes) const;
    };
    // Page-aligned: a FUSE or USB reader splits a read into a buffer that is
    // not into one request more per block.
    std::unique_ptr<uint8_t, Free> buffer_;
    ImageEnd end_ = ImageEnd::Finished;
    int error_ = 0;
    uint64_t readThisRun_ = 0;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point lastSave_;
    std::chrono::steady_clock::time_point lastProgress_;
};

} // namespace Rescue
