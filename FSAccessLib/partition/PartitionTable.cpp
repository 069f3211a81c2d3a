#include "PartitionTable.h"

#include <algorithm>
#include <array>
#include <set>

#include "PartitionRecords.h"

namespace FSAccessLib {
namespace {

using namespace Partitioning;

constexpr int kMaxLogicalPartitions = 128;

// Reads `count` bytes at `offset`; false when the card ends first.
bool ReadAt(AAA::Stream& card, uint64_t offset, uint8_t* out, uint32_t count) {
    if (card.Seek(static_cast<int64_t>(offset), AAA::SeekBegin) != static_cast<int64_t>(offset))
        return false;
    return card.Read(out, count) == count;
}

class TableReader {
public:
    TableReader(AAA::Stream& card, uint64_t cardBytes) : card_(card), cardSectors_(cardBytes / kSector) {}

    PartitionTable Read() {
        std::array<uint8_t, kSector> sector{};
        if (!ReadAt(card_, 0, sector.data(), kSector))
            return table_;
        const std::optional<MbrSector> mbr = DecodeMbr(sector.data());
        if (!mbr)
            return table_;
        const bool protective = std::any_of(mbr->entries.begin(), mbr->entries.end(),
                                            [](const MbrEntry& e) { return e.type == 0xEE; });
        if (protective && ReadGpt())
            return table_;
        ReadMbr(*mbr);
        return table_;
    }

private:
    // Adds a partition of sectors [first, first + count), checked against the card and the others.
    void Add(uint32_t number, uint64_t first, uint64_t count, std::string type) {
        const std::string name = "partition " + std::to_string(number);
        if (count == 0 || first == 0 || count > UINT64_MAX / kSector || first > UINT64_MAX / kSector - count) {
            table_.problems.push_back(name + " has an impossible place; skipped");
            return;
        }
        for (const Partition& other : table_.partitions)
            if (first * kSector < other.offset + other.length && other.offset < (first + count) * kSector) {
                table_.problems.push_back(name + " overlaps partition " + std::to_string(other.number) + "; skipped");
                return;
            }
        if (first >= cardSectors_) {
            table_.problems.push_back(name + " starts past the end of the card; skipped");
            return;
        }
        Partition partition{number, first * kSector, count * kSector, std::move(type), first + count > cardSectors_};
        if (partition.pastEnd)
            table_.problems.push_back(name + " runs past the end of the card");
        table_.partitions.push_back(std::move(partition));
    }

    void ReadMbr(const MbrSector& mbr) {
        table_.scheme = PartitionScheme::Mbr;
        for (uint32_t i = 0; i < 4; ++i) {
            const MbrEntry& entry = mbr.entries[i];
            if (!entry.Used())
                continue;
            if (entry.Extended())
                ReadLogical(entry.firstLba, entry.sectorCount);
            else
                Add(i + 1, entry.firstLba, entry.sectorCount, MbrTypeName(entry.type));
        }
    }

    // Each EBR holds one logical partition (relative to the EBR) and a link to
    // the next EBR (relative to the extended partition's start).
    void ReadLogical(uint64_t extendedFirst, uint64_t extendedCount) {
        std::set<uint64_t> visited;
        uint64_t ebr = extendedFirst;
        uint32_t number = 5;
        std::array<uint8_t, kSector> sector{};
        while (number < 5 + kMaxLogicalPartitions) {
            if (ebr < extendedFirst || ebr >= extendedFirst + extendedCount || !visited.insert(ebr).second) {
                table_.problems.push_back("the chain of logical partitions leaves its extended partition or loops; "
                                          "followed no further");
                return;
            }
            const std::optional<MbrSector> link =
                ReadAt(card_, ebr * kSector, sector.data(), kSector) ? DecodeMbr(sector.data()) : std::nullopt;
            if (!link)
                return;
            if (link->entries[0].Used())
                Add(number++, ebr + link->entries[0].firstLba, link->entries[0].sectorCount,
                    MbrTypeName(link->entries[0].type));
            if (!link->entries[1].Used())
                return;
            ebr = extendedFirst + link->entries[1].firstLba;
        }
    }

    // The primary header, else the backup at the card's last sector.
    bool ReadGpt() {
        std::string why;
        for (const uint64_t lba : {uint64_t{1}, cardSectors_ - 1}) {
            std::array<uint8_t, kSector> sector{};
            if (lba == 0 || !ReadAt(card_, lba * kSector, sector.data(), kSector))
                continue;
            std::optional<GptHeader> header = DecodeGptHeader(sector.data(), why);
            if (header && ReadGptEntries(*header, why)) {
                if (lba != 1)
                    table_.problems.insert(table_.problems.begin(), "the primary GPT is damaged; the backup was used");
                return true;
            }
            table_.problems.push_back((lba == 1 ? "primary GPT: " : "backup GPT: ") + why);
        }
        table_.partitions.clear();
        return false;
    }

    bool ReadGptEntries(const GptHeader& header, std::string& why) {
        std::vector<uint8_t> entries(static_cast<size_t>(header.EntriesBytes()));
        if (header.entriesLba >= cardSectors_ ||
            !ReadAt(card_, header.entriesLba * kSector, entries.data(), static_cast<uint32_t>(entries.size()))) {
            why = "its entries lie past the end of the card";
            return false;
        }
        if (Crc32(entries.data(), entries.size()) != header.entriesCrc) {
            why = "its entries' CRC does not match";
            return false;
        }
        table_.scheme = PartitionScheme::Gpt;
        table_.partitions.clear();
        for (uint32_t i = 0; i < header.entryCount; ++i) {
            const GptEntry entry = DecodeGptEntry(entries.data() + size_t{i} * header.entrySize);
            if (!entry.Used())
                continue;
            if (entry.lastLba < entry.firstLba) {
                table_.problems.push_back("partition " + std::to_string(i + 1) + " ends before it starts; skipped");
                continue;
            }
            Add(i + 1, entry.firstLba, entry.lastLba - entry.firstLba + 1, GptTypeName(entry.typeGuid));
        }
        return true;
    }

    AAA::Stream& card_;
    uint64_t cardSectors_;
    PartitionTable table_;
};

} // namespace

PartitionTable ReadPartitionTable(AAA::Stream& card, uint64_t cardBytes) {
    return TableReader(card, cardBytes).Read();
}

const char* PartitionSchemeName(PartitionScheme scheme) {
    switch (scheme) {
    case PartitionScheme::Mbr: return "MBR";
    case PartitionScheme::Gpt: return "GPT";
    case PartitionScheme::None: break;
    }
    return "none";
}

} // namespace FSAccessLib
