#pragma once
// Small cards of every file system holding a few given files, with the damage
// the reader must step over: the damage tests and the fuzz seeds share them.
// The geometries are the smallest each reader takes for its type (FAT16 just
// above 4085 clusters), so a card truncated after its data stays small.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace TestSupport {

enum class CardSystem { Fat12, Fat16, Fat32, ExFat };
const char* CardSystemName(CardSystem system);

struct CardItem {
    std::string path; // '/'-separated; parents are made on demand
    std::string data{};
    bool folder = false;
    std::vector<uint32_t> clusters{}; // explicit placement; empty: first free
    bool noFatChain = false;          // exFAT: contiguous, no table chain
    bool deleted = false;             // deleted after every item is added
};

// Damage applied while building, by item path (empty: none).
struct CardDamage {
    // The folder's first cluster is set past the volume: the first cluster
    // after the last one, and `clustersPast` more.
    std::string folderPastVolume{};
    uint32_t clustersPast = 0;
    // The live folder is read as one run from its first cluster: its table
    // entry is freed (FAT), it is written without a chain (exFAT).
    std::string folderAsOneRun{};
};

struct SmallCard {
    std::vector<uint8_t> bytes; // the whole volume
    uint32_t clusterSize = 0;
    uint64_t dataOffset = 0; // cluster 2
    std::map<std::string, uint64_t> start; // each item's first byte (files: data, folders: first cluster)
    uint64_t ClusterOffset(uint32_t cluster) const { return dataOffset + uint64_t{cluster - 2} * clusterSize; }
    // The bytes up to `end`: a card whose image ends early.
    std::string Cut(uint64_t end) const;
};

SmallCard BuildSmallCard(CardSystem system, const std::vector<CardItem>& items, const CardDamage& damage = {});

} // namespace TestSupport
