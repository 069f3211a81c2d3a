// The bytes of a laid-out exFAT volume: entry sets, directories, the bitmap,
// both tables, the boot regions, file data.
#include "support/ExFatImageBuilderImpl.h"

namespace TestSupport {

auto ExFatImageBuilder::Impl::EntrySet(const Node& node) const -> std::vector<Slot> {
    const ExFatEntryOptions& o = node.options;
    const size_t nameSlots = CeilDiv(node.name.size(), kNameUnitsPerEntry);
    std::vector<Slot> set(2 + nameSlots);
    Slot& file = set[0];
    file[0] = kEntryFile;
    file[1] = o.secondaryCount.value_or(static_cast<uint8_t>(1 + nameSlots + o.vendorEntries.size()));
    PutLe(&file[4], o.attributes.value_or(node.isDirectory ? 0x10 : 0x20));
    PutLe(&file[8], EncodeTimestamp(o.times.created));
    PutLe(&file[12], EncodeTimestamp(o.times.modified));
    PutLe(&file[16], EncodeTimestamp(o.times.accessed));
    file[20] = EncodeTenMs(o.times.created);
    file[21] = EncodeTenMs(o.times.modified);
    file[22] = o.times.created.utcOffset;
    file[23] = o.times.modified.utcOffset;
    file[24] = o.times.accessed.utcOffset;

    Slot& stream = set[1];
    stream[0] = kEntryStreamExtension;
    stream[1] = static_cast<uint8_t>(kStreamAllocationPossible | (node.noFatChain ? kStreamNoFatChain : 0));
    stream[3] = o.nameLength.value_or(static_cast<uint8_t>(node.name.size()));
    PutLe(&stream[4], o.nameHash.value_or(NameHash(node.name, upCaseMap)));
    PutLe(&stream[8], node.isDirectory ? node.dataLength : o.validDataLength.value_or(node.dataLength));
    PutLe(&stream[20], o.firstCluster.value_or(node.clusters.empty() ? 0 : node.clusters.front()));
    PutLe(&stream[24], node.dataLength);

    for (size_t n = 0; n < nameSlots; ++n) {
        Slot& name = set[2 + n];
        name[0] = kEntryFileName;
        for (size_t u = 0; u < kNameUnitsPerEntry && n * kNameUnitsPerEntry + u < node.name.size(); ++u)
            PutLe(&name[2 + 2 * u], static_cast<uint16_t>(node.name[n * kNameUnitsPerEntry + u]));
    }
    for (const ExFatVendorEntry& vendor : o.vendorEntries) {
        Slot slot{};
        slot[0] = vendor.type;
        std::copy(vendor.body.begin(), vendor.body.end(), slot.begin() + 1);
        set.push_back(slot);
    }
    PutLe(&set[0][2], o.setChecksum.value_or(SetChecksum(set))); // set may have moved
    if (node.deleted)
        for (Slot& slot : set)
            slot[0] &= static_cast<uint8_t>(~kInUseBit);
    set.resize(SetSlotCount(node));
    return set;
}

auto ExFatImageBuilder::Impl::RootSystemSlots() const -> std::vector<Slot> {
    std::vector<Slot> slots;
    const std::u16string label = LabelUnits();
    if (!label.empty()) {
        Slot slot{};
        slot[0] = kEntryVolumeLabel;
        slot[1] = static_cast<uint8_t>(label.size());
        for (size_t i = 0; i < label.size(); ++i)
            PutLe(&slot[2 + 2 * i], static_cast<uint16_t>(label[i]));
        slots.push_back(slot);
    }
    Slot bitmap{};
    bitmap[0] = kEntryAllocationBitmap;
    PutLe(&bitmap[20], bitmapClusters.front());
    PutLe(&bitmap[24], CeilDiv(clusterCount, 8));
    slots.push_back(bitmap);
    Slot upCase{};
    upCase[0] = kEntryUpCaseTable;
    PutLe(&upCase[4], TableChecksum(upCaseTable));
    PutLe(&upCase[20], upCaseClusters.front());
    PutLe(&upCase[24], static_cast<uint64_t>(upCaseTable.size()));
    slots.push_back(upCase);
    return slots;
}

auto ExFatImageBuilder::Impl::DirectorySlots(const Node& dir) const -> std::vector<Slot> {
    std::vector<Slot> slots = &dir == &root ? RootSystemSlots() : std::vector<Slot>{};
    for (const Item& item : dir.items) {
        if (!item.child) {
            slots.push_back(item.raw);
            continue;
        }
        const std::vector<Slot> set = EntrySet(*item.child);
        slots.insert(slots.end(), set.begin(), set.end());
    }
    return slots;
}

auto ExFatImageBuilder::Impl::EntryOffset(const Node& node) const -> uint64_t {
    const Node& dir = *node.parent;
    size_t index = &dir == &root ? RootSystemSlots().size() : 0;
    for (const Item& item : dir.items) {
        if (item.child == &node)
            break;
        index += item.child ? SetSlotCount(*item.child) : 1;
    }
    const size_t perCluster = clusterSize / 32;
    return ClusterOffset(dir.clusters.at(index / perCluster)) + (index % perCluster) * 32;
}

auto ExFatImageBuilder::Impl::ClusterOffset(uint32_t cluster) const -> uint64_t {
    return uint64_t{heapOffset} * sectorSize + uint64_t{cluster - 2} * clusterSize;
}

auto ExFatImageBuilder::Impl::Info(const Node& node) const -> ExFatEntryInfo {
    ExFatEntryInfo info;
    info.path = node.path;
    info.isDirectory = node.isDirectory;
    info.deleted = node.deleted;
    info.noFatChain = node.noFatChain;
    info.firstCluster = node.clusters.empty() ? 0 : node.clusters.front();
    info.dataLength = node.dataLength;
    info.clusters = node.clusters;
    info.extents = RunsOf(node.clusters, node.dataLength, [this](uint32_t c) { return ClusterOffset(c); }, clusterSize);
    info.entryOffset = EntryOffset(node);
    return info;
}

auto ExFatImageBuilder::Impl::WriteIntoClusters(const Sink& sink, const std::vector<uint32_t>& clusters, uint64_t offset, const uint8_t* data, size_t size) const -> void {
    while (size > 0) {
        const uint64_t index = offset / clusterSize;
        if (index >= clusters.size())
            return;
        const uint64_t within = offset % clusterSize;
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, clusterSize - within));
        sink(ClusterOffset(clusters[index]) + within, data, piece);
        data += piece;
        offset += piece;
        size -= piece;
    }
}

auto ExFatImageBuilder::Impl::RenderFileData(const Sink& sink, bool deletedPass) const -> void {
    ForEachNode(root, [&](const Node& node) {
        if (node.isDirectory || node.deleted != deletedPass)
            return;
        for (const auto& [offset, bytes] : node.writes)
            WriteIntoClusters(sink, node.clusters, offset, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    });
}

auto ExFatImageBuilder::Impl::RenderDirectory(const Sink& sink, const Node& dir) const -> void {
    const std::vector<Slot> slots = DirectorySlots(dir);
    std::vector<uint8_t> bytes(dir.clusters.size() * clusterSize, 0);
    for (size_t i = 0; i < slots.size() && (i + 1) * 32 <= bytes.size(); ++i)
        std::memcpy(&bytes[i * 32], slots[i].data(), 32);
    WriteIntoClusters(sink, dir.clusters, 0, bytes.data(), bytes.size());
}

auto ExFatImageBuilder::Impl::Bitmap(uint64_t* usedCount) const -> std::vector<uint8_t> {
    std::vector<uint8_t> bits(CeilDiv(std::min<uint64_t>(clusterCount, usableClusters), 8), 0);
    uint64_t used = 0;
    auto mark = [&](const std::vector<uint32_t>& clusters) {
        for (uint32_t c : clusters) {
            const uint64_t bit = c - 2ull;
            if (c >= 2 && bit / 8 < bits.size() && !(bits[bit / 8] & (1u << (bit % 8)))) {
                bits[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
                ++used;
            }
        }
    };
    mark(bitmapClusters);
    mark(upCaseClusters);
    mark(root.clusters);
    ForEachNode(root, [&](const Node& node) {
        if (!node.deleted)
            mark(node.clusters);
    });
    if (usedCount)
        *usedCount = used;
    return bits;
}

auto ExFatImageBuilder::Impl::FatEntries(int copy) const -> std::map<uint32_t, uint32_t> {
    std::map<uint32_t, uint32_t> fat;
    fat[0] = kFatMediaEntry;
    fat[1] = kFatEndOfChain;
    auto chain = [&](const std::vector<uint32_t>& clusters) {
        for (size_t i = 0; i < clusters.size(); ++i)
            fat[clusters[i]] = i + 1 < clusters.size() ? clusters[i + 1] : kFatEndOfChain;
    };
    chain(bitmapClusters);
    chain(upCaseClusters);
    chain(root.clusters);
    ForEachNode(root, [&](const Node& node) {
        if (!node.noFatChain && !node.fatCleared)
            chain(node.clusters);
    });
    for (const auto& [cluster, value] : fatOverrides[copy])
        fat[cluster] = value;
    return fat;
}

auto ExFatImageBuilder::Impl::RenderFat(const Sink& sink, int copy) const -> void {
    const uint64_t base = (uint64_t{fatOffset} + uint64_t{fatLength} * copy) * sectorSize;
    const uint64_t entriesPerSector = sectorSize / 4;
    const std::map<uint32_t, uint32_t> fat = FatEntries(copy);
    std::vector<uint8_t> sector(sectorSize);
    for (auto it = fat.begin(); it != fat.end();) {
        const uint64_t sectorIndex = it->first / entriesPerSector;
        if (sectorIndex >= fatLength)
            break;
        std::fill(sector.begin(), sector.end(), 0);
        for (; it != fat.end() && it->first / entriesPerSector == sectorIndex; ++it)
            PutLe(&sector[(it->first % entriesPerSector) * 4], it->second);
        sink(base + sectorIndex * sectorSize, sector.data(), sector.size());
    }
}

auto ExFatImageBuilder::Impl::BootRegion(const std::vector<std::pair<size_t, std::vector<uint8_t>>>& patches, uint8_t percentInUse) const -> std::vector<uint8_t> {
    std::vector<uint8_t> region(12 * size_t{sectorSize}, 0);
    uint8_t* boot = region.data();
    const ExFatGeometry& g = geometry;
    boot[0] = 0xEB;
    boot[1] = 0x76;
    boot[2] = 0x90;
    std::memcpy(boot + 3, "EXFAT   ", 8);
    PutLe(boot + 64, g.partitionOffset);
    PutLe(boot + 72, volumeSectors);
    PutLe(boot + 80, fatOffset);
    PutLe(boot + 84, fatLength);
    PutLe(boot + 88, heapOffset);
    PutLe(boot + 92, clusterCount);
    PutLe(boot + 96, root.clusters.front());
    PutLe(boot + 100, g.volumeSerial);
    PutLe(boot + 104, g.fileSystemRevision);
    PutLe(boot + 106, g.volumeFlags);
    boot[108] = g.bytesPerSectorShift;
    boot[109] = *g.sectorsPerClusterShift;
    boot[110] = g.numberOfFats;
    boot[111] = 0x80;
    boot[112] = percentInUse;
    boot[510] = 0x55;
    boot[511] = 0xAA;
    for (size_t s = 1; s <= 8; ++s) {
        uint8_t* extended = boot + s * sectorSize;
        extended[sectorSize - 2] = 0x55;
        extended[sectorSize - 1] = 0xAA;
    }
    std::fill_n(boot + 9 * size_t{sectorSize}, sectorSize, 0xFF); // OEM parameters: none
    for (const auto& [offset, bytes] : patches)
        for (size_t i = 0; i < bytes.size() && offset + i < 11 * size_t{sectorSize}; ++i)
            boot[offset + i] = bytes[i];
    const uint32_t checksum = BootRegionChecksum(region, sectorSize);
    for (size_t i = 0; i < sectorSize / 4; ++i)
        PutLe(boot + 11 * size_t{sectorSize} + 4 * i, checksum);
    return region;
}

auto ExFatImageBuilder::Impl::Render(const Sink& sink) const -> void {
    RenderFileData(sink, true);
    RenderFileData(sink, false);
    RenderDirectory(sink, root);
    ForEachNode(root, [&](const Node& node) {
        if (node.isDirectory)
            RenderDirectory(sink, node);
    });
    uint64_t used = 0;
    const std::vector<uint8_t> bitmap = Bitmap(&used);
    WriteIntoClusters(sink, bitmapClusters, 0, bitmap.data(), bitmap.size());
    WriteIntoClusters(sink, upCaseClusters, 0, upCaseTable.data(), upCaseTable.size());
    for (int copy = 0; copy < std::min<int>(2, std::max<int>(1, geometry.numberOfFats)); ++copy)
        RenderFat(sink, copy);
    const uint8_t percent = geometry.percentInUse.value_or(
        static_cast<uint8_t>(clusterCount ? used * 100 / clusterCount : 0));
    const std::vector<uint8_t> mainRegion = BootRegion(bootPatchesMain, percent);
    const std::vector<uint8_t> backupRegion = BootRegion(bootPatchesBackup, percent);
    sink(0, mainRegion.data(), mainRegion.size());
    sink(mainRegion.size(), backupRegion.data(), backupRegion.size());
    for (const auto& [offset, bytes] : rawWrites)
        sink(offset, bytes.data(), bytes.size());
}

} // namespace TestSupport
