#include "support/FatGeometry.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace TestSupport {

namespace {

std::uint64_t TableBytesFor(FatType type, std::uint64_t entries) {
    switch (type) {
    case FatType::Fat12: return (entries * 3 + 1) / 2;
    case FatType::Fat16: return entries * 2;
    case FatType::Fat32: return entries * 4;
    }
    return 0;
}

std::uint32_t EntriesIn(FatType type, std::uint64_t bytes) {
    switch (type) {
    case FatType::Fat12: return static_cast<std::uint32_t>(bytes * 2 / 3);
    case FatType::Fat16: return static_cast<std::uint32_t>(bytes / 2);
    case FatType::Fat32: return static_cast<std::uint32_t>(bytes / 4);
    }
    return 0;
}

std::uint32_t ClustersFor(const FatVolumeOptions& o, std::uint32_t rootSectors, std::uint32_t fatSectors) {
    const std::uint64_t overhead = std::uint64_t{o.reservedSectors} + std::uint64_t{o.numberOfFats} * fatSectors + rootSectors;
    if (overhead >= o.totalSectors) throw std::invalid_argument("FAT volume too small for its metadata");
    return static_cast<std::uint32_t>((o.totalSectors - overhead) / o.sectorsPerCluster);
}

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

void PutText(std::uint8_t* p, const std::string& text, std::size_t width) {
    std::memset(p, ' ', width);
    std::memcpy(p, text.data(), std::min(width, text.size()));
}

std::string TypeText(const FatVolumeOptions& o) {
    if (!o.fileSystemTypeText.empty()) return o.fileSystemTypeText;
    return o.type == FatType::Fat12 ? "FAT12" : o.type == FatType::Fat16 ? "FAT16" : "FAT32";
}

// Fields common to every FAT boot sector (the BIOS parameter block).
void WriteBpb(std::uint8_t* s, const FatVolumeOptions& o, const FatLayout& l) {
    const bool fat32 = o.type == FatType::Fat32;
    s[0] = 0xEB;
    s[1] = fat32 ? 0x58 : 0x3C;
    s[2] = 0x90;
    PutText(s + 3, "KALVORY", 8);
    Put16(s + 11, o.bytesPerSector);
    s[13] = o.sectorsPerCluster;
    Put16(s + 14, o.reservedSectors);
    s[16] = o.numberOfFats;
    Put16(s + 17, fat32 ? 0 : o.rootEntryCount);
    const bool small = !fat32 && o.totalSectors < 0x10000;
    Put16(s + 19, small ? o.totalSectors : 0);
    s[21] = o.media;
    Put16(s + 22, fat32 ? 0 : l.sectorsPerFat);
    Put16(s + 24, 32);  // sectors per track
    Put16(s + 26, 64);  // heads
    Put32(s + 28, 0);   // hidden sectors: a bare volume
    Put32(s + 32, small ? 0 : o.totalSectors);
}

// The extended block: drive, 0x29, serial, label, type text.
void WriteExtendedBlock(std::uint8_t* e, const FatVolumeOptions& o) {
    e[0] = 0x80;
    e[1] = 0;
    e[2] = 0x29;
    Put32(e + 3, o.volumeId);
    PutText(e + 7, o.volumeLabel.empty() ? "NO NAME" : o.volumeLabel, 11);
    PutText(e + 18, TypeText(o), 8);
}

void WriteFsInfo(std::uint8_t* s, std::uint32_t freeClusters, std::uint32_t nextFree) {
    std::memcpy(s, "RRaA", 4);
    std::memcpy(s + 484, "rrAa", 4);
    Put32(s + 488, freeClusters);
    Put32(s + 492, nextFree);
    s[510] = 0x55;
    s[511] = 0xAA;
}

} // namespace

FatLayout ComputeFatLayout(const FatVolumeOptions& o) {
    if (o.bytesPerSector < 512 || o.sectorsPerCluster == 0 || o.numberOfFats == 0)
        throw std::invalid_argument("FAT geometry: bad sector size, cluster size or FAT count");
    const bool fat32 = o.type == FatType::Fat32;
    FatLayout l;
    l.type = o.type;
    l.bytesPerSector = o.bytesPerSector;
    l.sectorsPerCluster = o.sectorsPerCluster;
    l.clusterSize = std::uint32_t{o.bytesPerSector} * o.sectorsPerCluster;
    l.totalSectors = o.totalSectors;
    l.reservedSectors = o.reservedSectors;
    l.numberOfFats = o.numberOfFats;
    l.rootEntryCount = fat32 ? 0 : o.rootEntryCount;
    const std::uint32_t rootSectors = (l.rootEntryCount * 32 + o.bytesPerSector - 1) / o.bytesPerSector;

    std::uint32_t fatSectors = o.sectorsPerFat;
    if (fatSectors == 0) {
        fatSectors = 1;
        for (;;) {
            const std::uint64_t need = TableBytesFor(o.type, std::uint64_t{ClustersFor(o, rootSectors, fatSectors)} + 2);
            const auto needSectors = static_cast<std::uint32_t>((need + o.bytesPerSector - 1) / o.bytesPerSector);
            if (needSectors <= fatSectors) break;
            fatSectors = needSectors;
        }
    }
    l.sectorsPerFat = fatSectors;
    l.clusterCount = ClustersFor(o, rootSectors, fatSectors);
    l.fatBytes = std::uint64_t{fatSectors} * o.bytesPerSector;
    l.fatEntryCount = EntriesIn(o.type, l.fatBytes);
    l.fatOffset = std::uint64_t{o.reservedSectors} * o.bytesPerSector;
    const std::uint64_t rootRegion = l.fatOffset + l.numberOfFats * l.fatBytes;
    l.dataOffset = rootRegion + std::uint64_t{rootSectors} * o.bytesPerSector;
    l.rootCluster = fat32 ? o.rootCluster : 0;
    l.rootDirOffset = fat32 ? l.ClusterOffset(o.rootCluster) : rootRegion;
    return l;
}

std::uint64_t FatLayout::ClusterOffset(std::uint32_t cluster) const {
    if (cluster < 2) throw std::out_of_range("cluster numbers start at 2");
    return dataOffset + std::uint64_t{cluster - 2} * clusterSize;
}

std::uint32_t FatLayout::EndOfChain() const {
    return type == FatType::Fat12 ? 0xFFF : type == FatType::Fat16 ? 0xFFFF : 0x0FFFFFFF;
}

std::uint32_t ReadFatTableEntry(FatType type, const std::uint8_t* table, std::uint32_t cluster) {
    switch (type) {
    case FatType::Fat12: {
        const std::uint8_t* p = table + cluster + cluster / 2;
        const std::uint32_t pair = p[0] | (std::uint32_t{p[1]} << 8);
        return cluster % 2 == 0 ? pair & 0xFFF : pair >> 4;
    }
    case FatType::Fat16: return table[2 * cluster] | (std::uint32_t{table[2 * cluster + 1]} << 8);
    case FatType::Fat32: {
        const std::uint8_t* p = table + 4 * std::uint64_t{cluster};
        return p[0] | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
    }
    }
    return 0;
}

void WriteFatTableEntry(FatType type, std::uint8_t* table, std::uint32_t cluster, std::uint32_t value) {
    switch (type) {
    case FatType::Fat12: {
        std::uint8_t* p = table + cluster + cluster / 2;
        value &= 0xFFF;
        if (cluster % 2 == 0) {
            p[0] = static_cast<std::uint8_t>(value);
            p[1] = static_cast<std::uint8_t>((p[1] & 0xF0) | (value >> 8));
        } else {
            p[0] = static_cast<std::uint8_t>((p[0] & 0x0F) | ((value & 0x0F) << 4));
            p[1] = static_cast<std::uint8_t>(value >> 4);
        }
        return;
    }
    case FatType::Fat16: Put16(table + 2 * cluster, value & 0xFFFF); return;
    case FatType::Fat32: Put32(table + 4 * std::uint64_t{cluster}, value); return;
    }
}

void WriteBootRegion(std::vector<std::uint8_t>& image, const FatVolumeOptions& o, const FatLayout& l,
                     std::uint32_t freeClusters, std::uint32_t nextFree) {
    std::uint8_t* boot = image.data();
    WriteBpb(boot, o, l);
    if (o.type == FatType::Fat32) {
        Put32(boot + 36, l.sectorsPerFat);
        Put16(boot + 40, 0);  // mirrored FATs
        Put16(boot + 42, 0);  // version 0.0
        Put32(boot + 44, o.rootCluster);
        Put16(boot + 48, 1);
        Put16(boot + 50, 6);
        WriteExtendedBlock(boot + 64, o);
    } else {
        WriteExtendedBlock(boot + 36, o);
    }
    boot[510] = 0x55;
    boot[511] = 0xAA;
    if (o.type != FatType::Fat32) return;

    const std::uint32_t bps = o.bytesPerSector;
    WriteFsInfo(boot + bps, freeClusters, nextFree);
    if (o.reservedSectors > 7) {
        std::memcpy(boot + 6 * bps, boot, bps);
        std::memcpy(boot + 7 * bps, boot + bps, bps);
    }
}

} // namespace TestSupport
