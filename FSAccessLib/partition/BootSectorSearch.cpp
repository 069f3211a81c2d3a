#include "BootSectorSearch.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "ExfatBootSector.h"
#include "FatBootSector.h"

namespace FSAccessLib {

namespace {

constexpr uint64_t kSector = 512;

std::span<const uint8_t> Sector(const uint8_t* sector) { return {sector, kSector}; }

bool HoldsExFatName(const uint8_t* sector) { return ExFAT::HoldsExFatName(Sector(sector)); }

} // namespace

bool LooksLikeBootSector(const uint8_t* sector) {
    const FatBootPrefixValues prefix = DecodeFatBootPrefix(Sector(sector));
    if (!prefix.signatureWord)
        return false;
    if (HoldsExFatName(sector))
        return true;
    const bool jump = (sector[0] == 0xEB && sector[2] == 0x90) || sector[0] == 0xE9;
    const unsigned bytesPerSector = prefix.sectorSize;
    const unsigned perCluster = prefix.sectorsPerCluster;
    const bool sectorSize = bytesPerSector >= 512 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0;
    return jump && sectorSize && perCluster != 0 && (perCluster & (perCluster - 1)) == 0;
}

namespace {

std::vector<uint8_t> SectorAt(AAA::Stream& card, uint64_t offset) {
    std::vector<uint8_t> sector(kSector, 0);
    if (card.Seek(static_cast<int64_t>(offset), AAA::SeekBegin) == static_cast<int64_t>(offset))
        card.Read(sector.data(), kSector);
    return sector;
}

// How far behind its primary a backup of this kind stands; 0: none.
uint64_t BackupDistance(const uint8_t* sector) {
    if (HoldsExFatName(sector))
        return 12 * kSector;
    if (AAA::BytesAtEqual(Sector(sector), BootField32::FileSystemType, "FAT32   "))
        return 6 * kSector;
    return 0;
}

// A primary has its backup behind it; a backup has nothing boot-like in front.
BootCandidate CandidateFor(AAA::Stream& card, uint64_t at, const uint8_t* sector) {
    const uint64_t distance = BackupDistance(sector);
    if (distance == 0 || at < distance)
        return {at, 0};
    const std::vector<uint8_t> behind = SectorAt(card, at + distance);
    const bool hasBackup = BackupDistance(behind.data()) == distance &&
                           (distance != 6 * kSector || std::memcmp(behind.data(), sector, kSector) == 0);
    const std::vector<uint8_t> before = SectorAt(card, at - distance);
    if (hasBackup || LooksLikeBootSector(before.data()))
        return {at, 0};
    return {at - distance, distance};
}

} // namespace

std::vector<BootCandidate> FindBootSectors(AAA::Stream& card, uint64_t cardBytes) {
    constexpr uint32_t kChunk = 1 << 20;
    std::vector<uint8_t> chunk(kChunk);
    std::vector<BootCandidate> candidates;
    const uint64_t end = std::min(cardBytes, kBootSearchBytes);
    for (uint64_t at = 0; at < end && candidates.size() < kMaxBootCandidates; at += kChunk) {
        card.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        const uint32_t got = card.Read(chunk.data(), static_cast<uint32_t>(std::min<uint64_t>(kChunk, end - at)));
        for (uint32_t offset = 0; offset + kSector <= got && candidates.size() < kMaxBootCandidates; offset += kSector) {
            if (!LooksLikeBootSector(chunk.data() + offset))
                continue;
            // Telling a backup from its primary reads the sectors around it; each chunk seeks anew.
            const BootCandidate candidate = CandidateFor(card, at + offset, chunk.data() + offset);
            if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end())
                candidates.push_back(candidate);
        }
        if (got < kChunk)
            break;
    }
    return candidates;
}

} // namespace FSAccessLib
