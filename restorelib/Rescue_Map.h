#pragma once
// What an imaging run knows about each byte of the source, kept in GNU
// ddrescue's mapfile format so that ddrescuelog and ddrescueview read it and a
// later run resumes from it.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace Rescue {

// Block states, as the mapfile writes them.
enum class Area : char {
    NonTried = '?',
    NonTrimmed = '*',
    NonScraped = '/',
    BadSector = '-',
    Finished = '+',
};

// What the run was doing when the map was written.
enum class Phase : char {
    Copying = '?',
    Trimming = '*',
    Scraping = '/',
    Retrying = '-',
    Finished = '+',
};

struct MapBlock {
    uint64_t start = 0;
    uint64_t length = 0;
    Area area = Area::NonTried;
    uint64_t End() const { return start + length; }
    bool operator==(const MapBlock&) const = default;
};

// The source's bytes [0, size) split into consecutive blocks, neighbours
// always of different states.
class Map {
public:
    explicit Map(uint64_t size = 0);

    uint64_t Size() const { return size_; }
    // Gives [start, end) the state `area` (clipped to the size).
    void Set(uint64_t start, uint64_t end, Area area);
    Area At(uint64_t position) const;
    // The first block of state `area` that ends after `from`, clipped to start
    // at `from` or later; nullopt when none is left.
    std::optional<MapBlock> NextOf(Area area, uint64_t from) const;
    std::vector<MapBlock> Blocks() const;
    // Bytes in each state: those not finished are the ones a recovery from the
    // image must take as unreadable.
    uint64_t BytesIn(Area area) const;
    uint64_t BytesNotFinished() const { return size_ - BytesIn(Area::Finished); }

    uint64_t currentPosition = 0;
    Phase phase = Phase::Copying;
    int pass = 1;

private:
    uint64_t size_;
    std::map<uint64_t, std::pair<uint64_t, Area>> blocks_; // start -> (end, state)
    void SplitAt(uint64_t position);
    void MergeAround(uint64_t position);
};

// The mapfile text: comment lines, the status line, then one line per block.
// `commandLine` goes into the header comment.
std::string FormatMap(const Map& map, const std::string& commandLine);

// Reads a mapfile as ddrescuelog does: blocks in order from 0, without gaps or
// overlaps, each of a known state. nullopt (with `error` saying what is wrong
// and on which line) for anything else.
std::optional<Map> ParseMap(const std::string& text, std::string& error);

} // namespace Rescue
