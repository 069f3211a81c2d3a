#include "BootSectorSearch.h"

#include <algorithm>
#include <cstring>

namespace FSAccessLib {

bool LooksLikeBootSector(const uint8_t* sector) {
    if (sector[510] != 0x55 || sector[511] != 0xAA)
        return false;
    if (std::memcmp(sector + 3, "EXFAT   ", 8) == 0)
        return true;
    const bool jump = (sector[0] == 0xEB && sector[2] == 0x90) || sector[0] == 0xE9;
    const unsigned bytesPerSector = sector[11] | sector[12] << 8;
    const unsigned perCluster = sector[13];
    const bool sectorSize = bytesPerSector >= 512 && bytesPerSector <= 4096 && (bytesPerSector & (bytesPerSector - 1)) == 0;
    return jump && sectorSize && perCluster != 0 && (perCluster & (perCluster - 1)) == 0;
}

std::vector<uint64_t> FindBootSectors(AAA::Stream& card, uint64_t cardBytes) {
    constexpr uint32_t kChunk = 1 << 20;
    std::vector<uint8_t> chunk(kChunk);
    std::vector<uint64_t> found;
    const uint64_t end = std::min(cardBytes, kBootSearchBytes);
    for (uint64_t at = 0; at < end && found.size() < kMaxBootCandidates; at += kChunk) {
        card.Seek(static_cast<int64_t>(at), AAA::SeekBegin);
        const uint32_t got = card.Read(chunk.data(), static_cast<uint32_t>(std::min<uint64_t>(kChunk, end - at)));
        for (uint32_t offset = 0; offset + 512 <= got && found.size() < kMaxBootCandidates; offset += 512)
            if (LooksLikeBootSector(chunk.data() + offset))
                found.push_back(at + offset);
        if (got < kChunk)
            break;
    }
    return found;
}

} // namespace FSAccessLib
