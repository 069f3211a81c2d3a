#pragma once
// The partitions a whole card's table describes: MBR (extended partitions
// included) or GPT (the backup header at the card's end when the primary is
// damaged). A hostile table costs nothing: chains that loop, entries that
// overlap, overflow or lie past the card's end are noted and skipped.
#include <cstdint>
#include <string>
#include <vector>

#include "AAA_Stream.h"

namespace FSAccessLib {

enum class PartitionScheme { None, Mbr, Gpt };

struct Partition {
    uint32_t number = 0;  // MBR: 1-4 primary, 5 on logical; GPT: the entry's index + 1
    uint64_t offset = 0;  // bytes from the card's start
    uint64_t length = 0;
    std::string type;     // "FAT32", "Microsoft basic data", ...
    bool pastEnd = false; // runs past the card's end (a short image, or a bad table)
};

struct PartitionTable {
    PartitionScheme scheme = PartitionScheme::None;
    std::vector<Partition> partitions;
    std::vector<std::string> problems; // what was wrong with the table
};

PartitionTable ReadPartitionTable(AAA::Stream& card, uint64_t cardBytes);

const char* PartitionSchemeName(PartitionScheme scheme);

} // namespace FSAccessLib
