#pragma once
// The records of a card's partition tables, each decoded by a pure function
// over its bytes: the MBR (and the EBRs of an extended partition), the GPT
// header and its entries. Offsets are the formats' own; every check stands
// beside the field it checks.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace FSAccessLib::Partitioning {

constexpr uint64_t kSector = 512; // logical sectors of SD cards

inline uint32_t Le32(const uint8_t* bytes) {
    return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24;
}
inline uint64_t Le64(const uint8_t* bytes) { return Le32(bytes) | uint64_t{Le32(bytes + 4)} << 32; }

// IEEE 802.3 CRC-32, as the GPT uses it.
uint32_t Crc32(const uint8_t* bytes, size_t size);

// ---- MBR and EBR: four 16-byte entries at 446, 0x55 0xAA at 510 ------------
struct MbrEntry {
    static constexpr size_t kStatus = 0, kType = 4, kFirstLba = 8, kSectorCount = 12, kSize = 16;
    uint8_t status = 0;      // 0x00 or 0x80 (active)
    uint8_t type = 0;        // 0: unused
    uint32_t firstLba = 0;   // MBR: from the card's start; EBR: see ReadPartitionTable
    uint32_t sectorCount = 0;
    bool Used() const { return type != 0 && sectorCount != 0; }
    bool Extended() const { return type == 0x05 || type == 0x0F || type == 0x85; }
};
struct MbrSector {
    static constexpr size_t kEntries = 446, kSignature = 510;
    std::array<MbrEntry, 4> entries{};
};
static_assert(MbrSector::kEntries + 4 * MbrEntry::kSize == MbrSector::kSignature);

// Nullopt when the sector is no MBR/EBR: no signature, or a status byte that
// is neither 0 nor 0x80 (a volume boot sector holds code there).
std::optional<MbrSector> DecodeMbr(const uint8_t* sector);

// ---- GPT header (LBA 1, its backup at the card's last LBA) ------------------
struct GptHeader {
    static constexpr size_t kSignature = 0, kHeaderSize = 12, kHeaderCrc = 16, kMyLba = 24, kAlternateLba = 32,
                            kFirstUsable = 40, kLastUsable = 48, kEntriesLba = 72, kEntryCount = 80,
                            kEntrySize = 84, kEntriesCrc = 88, kMinSize = 92;
    uint64_t myLba = 0, alternateLba = 0, firstUsable = 0, lastUsable = 0, entriesLba = 0;
    uint32_t entryCount = 0, entrySize = 0, entriesCrc = 0;
    uint64_t EntriesBytes() const { return uint64_t{entryCount} * entrySize; }
};
// The largest entry array read: far more than any real table needs.
constexpr uint64_t kMaxGptEntriesBytes = 1 << 20;

// Nullopt, with `why`, when the signature, the size, the CRC or the entry
// geometry is wrong.
std::optional<GptHeader> DecodeGptHeader(const uint8_t* sector, std::string& why);

// ---- GPT entry ----------------------------------------------------------------
struct GptEntry {
    static constexpr size_t kTypeGuid = 0, kFirstLba = 32, kLastLba = 40, kName = 56, kNameBytes = 72,
                            kMinSize = 128;
    std::array<uint8_t, 16> typeGuid{};
    uint64_t firstLba = 0, lastLba = 0;
    std::u16string name;
    bool Used() const;
};
static_assert(GptEntry::kName + GptEntry::kNameBytes == GptEntry::kMinSize);
GptEntry DecodeGptEntry(const uint8_t* bytes);

// Readable names of the types cards carry.
std::string MbrTypeName(uint8_t type);
std::string GptTypeName(const std::array<uint8_t, 16>& guid);

} // namespace FSAccessLib::Partitioning
