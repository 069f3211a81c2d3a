#include "PartitionRecords.h"

#include <algorithm>
#include <cstdio>

namespace FSAccessLib::Partitioning {
namespace {

constexpr std::array<uint8_t, 16> kBasicData = {0xA2, 0xA0, 0xD0, 0xEB, 0xE5, 0xB9, 0x33, 0x44,
                                                0x87, 0xC0, 0x68, 0xB6, 0xB7, 0x26, 0x99, 0xC7};
constexpr std::array<uint8_t, 16> kEfiSystem = {0x28, 0x73, 0x2A, 0xC1, 0x1F, 0xF8, 0xD2, 0x11,
                                                0xBA, 0x4B, 0x00, 0xA0, 0xC9, 0x3E, 0xC9, 0x3B};
constexpr std::array<uint8_t, 16> kLinuxData = {0xAF, 0x3D, 0xC6, 0x0F, 0x83, 0x84, 0x72, 0x47,
                                                0x8E, 0x79, 0x3D, 0x69, 0xD8, 0x47, 0x7D, 0xE4};

} // namespace

uint32_t Crc32(const uint8_t* bytes, size_t size) {
    static const auto table = [] {
        std::array<uint32_t, 256> values{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            values[i] = c;
        }
        return values;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::optional<MbrSector> DecodeMbr(const uint8_t* sector) {
    if (sector[MbrSector::kSignature] != 0x55 || sector[MbrSector::kSignature + 1] != 0xAA)
        return std::nullopt;
    MbrSector mbr;
    for (size_t i = 0; i < 4; ++i) {
        const uint8_t* raw = sector + MbrSector::kEntries + i * MbrEntry::kSize;
        MbrEntry& entry = mbr.entries[i];
        entry.status = raw[MbrEntry::kStatus];
        if (entry.status != 0x00 && entry.status != 0x80)
            return std::nullopt;
        entry.type = raw[MbrEntry::kType];
        entry.firstLba = Le32(raw + MbrEntry::kFirstLba);
        entry.sectorCount = Le32(raw + MbrEntry::kSectorCount);
    }
    return mbr;
}

std::optional<GptHeader> DecodeGptHeader(const uint8_t* sector, std::string& why) {
    if (std::string_view(reinterpret_cast<const char*>(sector + GptHeader::kSignature), 8) != "EFI PART") {
        why = "no GPT signature";
        return std::nullopt;
    }
    const uint32_t size = Le32(sector + GptHeader::kHeaderSize);
    if (size < GptHeader::kMinSize || size > kSector) {
        why = "a GPT header size of " + std::to_string(size);
        return std::nullopt;
    }
    std::array<uint8_t, kSector> copy{};
    std::copy(sector, sector + size, copy.begin());
    std::fill_n(copy.begin() + GptHeader::kHeaderCrc, 4, 0);
    if (Crc32(copy.data(), size) != Le32(sector + GptHeader::kHeaderCrc)) {
        why = "a GPT header whose CRC does not match";
        return std::nullopt;
    }
    GptHeader header;
    header.myLba = Le64(sector + GptHeader::kMyLba);
    header.alternateLba = Le64(sector + GptHeader::kAlternateLba);
    header.firstUsable = Le64(sector + GptHeader::kFirstUsable);
    header.lastUsable = Le64(sector + GptHeader::kLastUsable);
    header.entriesLba = Le64(sector + GptHeader::kEntriesLba);
    header.entryCount = Le32(sector + GptHeader::kEntryCount);
    header.entrySize = Le32(sector + GptHeader::kEntrySize);
    header.entriesCrc = Le32(sector + GptHeader::kEntriesCrc);
    if (header.entrySize < GptEntry::kMinSize || header.entrySize % 8 != 0 ||
        header.EntriesBytes() > kMaxGptEntriesBytes) {
        why = "a GPT entry array of " + std::to_string(header.entryCount) + " entries of " +
              std::to_string(header.entrySize) + " bytes";
        return std::nullopt;
    }
    return header;
}

bool GptEntry::Used() const {
    return std::any_of(typeGuid.begin(), typeGuid.end(), [](uint8_t b) { return b != 0; });
}

GptEntry DecodeGptEntry(const uint8_t* bytes) {
    GptEntry entry;
    std::copy_n(bytes + GptEntry::kTypeGuid, 16, entry.typeGuid.begin());
    entry.firstLba = Le64(bytes + GptEntry::kFirstLba);
    entry.lastLba = Le64(bytes + GptEntry::kLastLba);
    for (size_t i = 0; i < GptEntry::kNameBytes; i += 2) {
        const auto unit = static_cast<char16_t>(bytes[GptEntry::kName + i] | bytes[GptEntry::kName + i + 1] << 8);
        if (unit == 0)
            break;
        entry.name += unit;
    }
    return entry;
}

std::string MbrTypeName(uint8_t type) {
    switch (type) {
    case 0x01: return "FAT12";
    case 0x04: case 0x06: case 0x0E: return "FAT16";
    case 0x0B: case 0x0C: return "FAT32";
    case 0x07: return "exFAT or NTFS";
    case 0x05: case 0x0F: case 0x85: return "extended";
    case 0x83: return "Linux";
    case 0xEE: return "GPT protective";
    default: break;
    }
    char text[16];
    std::snprintf(text, sizeof text, "type 0x%02X", type);
    return text;
}

std::string GptTypeName(const std::array<uint8_t, 16>& guid) {
    if (guid == kBasicData)
        return "Microsoft basic data";
    if (guid == kEfiSystem)
        return "EFI system";
    if (guid == kLinuxData)
        return "Linux data";
    return "other";
}

} // namespace FSAccessLib::Partitioning
