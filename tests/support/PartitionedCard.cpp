#include "support/PartitionedCard.h"

#include <stdexcept>

namespace TestSupport {
namespace {

constexpr uint64_t kSector = 512;

void Put32(std::string& bytes, size_t at, uint64_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}
void Put64(std::string& bytes, size_t at, uint64_t value) {
    Put32(bytes, at, value & 0xFFFFFFFF);
    Put32(bytes, at + 4, value >> 32);
}

uint64_t Sectors(const PlacedVolume& volume) {
    return volume.sectors ? volume.sectors : (volume.bytes.size() + kSector - 1) / kSector;
}

// Logical volumes each get an EBR in the sector before them.
void WriteMbr(std::string& card, const std::vector<PlacedVolume>& volumes) {
    int slot = 0;
    std::vector<const PlacedVolume*> logical;
    for (const PlacedVolume& volume : volumes) {
        if (volume.logical)
            logical.push_back(&volume);
        else
            WriteMbrEntry(card, 0, slot++, volume.mbrType, volume.startSector, Sectors(volume));
    }
    if (logical.empty())
        return;
    const uint64_t extendedStart = logical.front()->startSector - 1;
    const uint64_t extendedEnd = logical.back()->startSector + Sectors(*logical.back());
    WriteMbrEntry(card, 0, slot, 0x0F, extendedStart, extendedEnd - extendedStart);
    for (size_t i = 0; i < logical.size(); ++i) {
        const uint64_t ebr = logical[i]->startSector - 1;
        WriteMbrEntry(card, ebr, 0, logical[i]->mbrType, 1, Sectors(*logical[i]));
        if (i + 1 < logical.size())
            WriteMbrEntry(card, ebr, 1, 0x0F, logical[i + 1]->startSector - 1 - extendedStart, Sectors(*logical[i + 1]) + 1);
    }
}

std::string GptHeader(uint64_t myLba, uint64_t alternate, uint64_t entriesLba, uint64_t lastUsable,
                      uint32_t entriesCrc) {
    std::string header(kSector, '\0');
    header.replace(0, 8, "EFI PART");
    Put32(header, 8, 0x00010000);
    Put32(header, 12, 92);
    Put64(header, 24, myLba);
    Put64(header, 32, alternate);
    Put64(header, 40, 34);
    Put64(header, 48, lastUsable);
    Put64(header, 72, entriesLba);
    Put32(header, 80, 128);
    Put32(header, 84, 128);
    Put32(header, 88, entriesCrc);
    Put32(header, 16, TestCrc32(reinterpret_cast<const uint8_t*>(header.data()), 92));
    return header;
}

void WriteGpt(std::string& card, uint64_t cardSectors, const std::vector<PlacedVolume>& volumes) {
    WriteMbrEntry(card, 0, 0, 0xEE, 1, std::min<uint64_t>(cardSectors - 1, 0xFFFFFFFF));
    std::string entries(128 * 128, '\0');
    const std::string basicData("\xA2\xA0\xD0\xEB\xE5\xB9\x33\x44\x87\xC0\x68\xB6\xB7\x26\x99\xC7", 16);
    for (size_t i = 0; i < volumes.size(); ++i) {
        entries.replace(i * 128, 16, basicData);
        entries[i * 128 + 16] = static_cast<char>(i + 1); // a unique id
        Put64(entries, i * 128 + 32, volumes[i].startSector);
        Put64(entries, i * 128 + 40, volumes[i].startSector + Sectors(volumes[i]) - 1);
    }
    const uint32_t crc = TestCrc32(reinterpret_cast<const uint8_t*>(entries.data()), entries.size());
    const uint64_t last = cardSectors - 1;
    card.replace(kSector, kSector, GptHeader(1, last, 2, last - 33, crc));
    card.replace(2 * kSector, entries.size(), entries);
    card.replace((last - 32) * kSector, entries.size(), entries);
    card.replace(last * kSector, kSector, GptHeader(last, 1, last - 32, last - 33, crc));
}

} // namespace

void WriteMbrEntry(std::string& card, uint64_t sector, int slot, uint8_t type, uint64_t firstLba, uint64_t sectors) {
    const size_t at = sector * kSector + 446 + slot * 16;
    card[at + 4] = static_cast<char>(type);
    Put32(card, at + 8, firstLba);
    Put32(card, at + 12, sectors);
    card[sector * kSector + 510] = '\x55';
    card[sector * kSector + 511] = '\xAA';
}

uint32_t TestCrc32(const uint8_t* bytes, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= bytes[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

std::string BuildWholeCard(TableKind kind, uint64_t cardSectors, const std::vector<PlacedVolume>& volumes) {
    std::string card(cardSectors * kSector, '\0');
    for (const PlacedVolume& volume : volumes) {
        if ((volume.startSector + Sectors(volume)) * kSector > card.size() && volume.sectors == 0)
            throw std::logic_error("a volume does not fit on the card");
        card.replace(volume.startSector * kSector, std::min(volume.bytes.size(), card.size() - volume.startSector * kSector),
                     volume.bytes.substr(0, card.size() - volume.startSector * kSector));
    }
    if (kind == TableKind::Mbr)
        WriteMbr(card, volumes);
    else
        WriteGpt(card, cardSectors, volumes);
    return card;
}

} // namespace TestSupport
