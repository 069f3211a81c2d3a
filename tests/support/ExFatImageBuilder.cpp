#include "support/ExFatImageBuilder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <stdexcept>

namespace TestSupport {

using namespace ExFat;

namespace {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kMaxInMemoryVolume = 1ull << 30;
constexpr uint64_t kMaxFileDataCopy = 256 * kMiB;

using Sink = std::function<void(uint64_t offset, const uint8_t* data, size_t size)>;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }
uint64_t RoundUp(uint64_t a, uint64_t b) { return CeilDiv(a, b) * b; }

uint8_t DefaultClusterShift(uint64_t volumeBytes, uint8_t sectorShift) {
    const uint8_t clusterShift = volumeBytes <= 256 * kMiB ? 12 : volumeBytes <= 32 * 1024 * kMiB ? 15 : 17;
    return clusterShift > sectorShift ? static_cast<uint8_t>(clusterShift - sectorShift) : 0;
}

std::vector<std::u16string> SplitPath(const std::string& path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = std::min(path.find('/', start), path.size());
        if (slash > start)
            parts.push_back(Utf8ToUtf16(path.substr(start, slash - start)));
        start = slash + 1;
    }
    return parts;
}

std::vector<ExFatExtent> RunsOf(const std::vector<uint32_t>& clusters, uint64_t limit,
                                const std::function<uint64_t(uint32_t)>& offsetOf, uint64_t clusterSize) {
    std::vector<ExFatExtent> runs;
    uint64_t left = limit;
    for (size_t i = 0; i < clusters.size() && left > 0; ++i) {
        const uint64_t take = std::min<uint64_t>(clusterSize, left);
        if (!runs.empty() && i > 0 && clusters[i] == clusters[i - 1] + 1)
            runs.back().length += take;
        else
            runs.push_back({offsetOf(clusters[i]), take});
        left -= take;
    }
    return runs;
}

} // namespace

ExFatVendorEntry ExFatVendorEntry::Extension(const std::array<uint8_t, 16>& guid, const std::string& data) {
    ExFatVendorEntry entry;
    entry.type = kEntryVendorExtension;
    std::copy(guid.begin(), guid.end(), entry.body.begin() + 1);
    std::copy_n(data.begin(), std::min<size_t>(data.size(), 14), entry.body.begin() + 17);
    return entry;
}

ExFatVendorEntry ExFatVendorEntry::Allocation(const std::array<uint8_t, 16>& guid, uint32_t firstCluster,
                                              uint64_t dataLength) {
    ExFatVendorEntry entry;
    entry.type = kEntryVendorAllocation;
    std::copy(guid.begin(), guid.end(), entry.body.begin() + 1);
    PutLe(entry.body.data() + 19, firstCluster);
    PutLe(entry.body.data() + 23, dataLength);
    return entry;
}

struct ExFatImageBuilder::Impl {
    struct Node;
    struct Item {
        Node* child = nullptr;
        Slot raw{};
    };
    struct Node {
        std::u16string name;
        std::string path;
        Node* parent = nullptr;
        bool isDirectory = false;
        bool deleted = false;
        bool fatCleared = false;
        bool noFatChain = false;
        uint64_t dataLength = 0;
        std::vector<uint32_t> clusters;
        std::vector<std::pair<uint64_t, std::string>> writes; // file offset, bytes; in order
        ExFatEntryOptions options;
        std::vector<Item> items;
    };

    ExFatGeometry geometry;
    uint32_t sectorSize = 0;
    uint32_t clusterSize = 0;
    uint64_t volumeSectors = 0;
    uint32_t fatOffset = 0;
    uint32_t fatLength = 0;
    uint32_t heapOffset = 0;
    uint32_t clusterCount = 0;
    uint32_t usableClusters = 0;
    std::vector<uint8_t> upCaseTable;
    std::vector<uint16_t> upCaseMap;
    std::vector<uint32_t> bitmapClusters;
    std::vector<uint32_t> upCaseClusters;
    std::vector<bool> taken; // index = cluster number
    std::vector<std::unique_ptr<Node>> nodes;
    Node root;
    std::map<uint32_t, uint32_t> fatOverrides[2]; // per copy
    std::vector<std::pair<size_t, std::vector<uint8_t>>> bootPatchesMain, bootPatchesBackup;
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> rawWrites;

    explicit Impl(const ExFatGeometry& g) : geometry(g) {
        DeriveGeometry();
        upCaseTable = g.upCaseTable ? *g.upCaseTable
                                    : (g.compressedUpCase ? CompressUpCase(DefaultUpCaseMapping())
                                                          : FullUpCase(DefaultUpCaseMapping()));
        upCaseMap = ExpandUpCase(upCaseTable);
        if (Utf8ToUtf16(g.volumeLabel).size() > kLabelUnits)
            throw std::invalid_argument("volume label longer than 11 UTF-16 units");
        taken.assign(static_cast<size_t>(usableClusters) + 2, false);
        taken[0] = taken[1] = true;
        const uint64_t bitmapBytes = CeilDiv(clusterCount, 8);
        bitmapClusters = Allocate(std::max<uint64_t>(1, CeilDiv(bitmapBytes, clusterSize)), true);
        upCaseClusters = Allocate(std::max<uint64_t>(1, CeilDiv(upCaseTable.size(), clusterSize)), true);
        root.isDirectory = true;
        root.clusters = Allocate(std::max<uint32_t>(1, g.rootDirectoryClusters), false);
    }

    void DeriveGeometry() {
        const ExFatGeometry& g = geometry;
        sectorSize = 1u << g.bytesPerSectorShift;
        const uint8_t clusterShift = g.sectorsPerClusterShift.value_or(DefaultClusterShift(g.volumeBytes, g.bytesPerSectorShift));
        geometry.sectorsPerClusterShift = clusterShift;
        clusterSize = sectorSize << clusterShift;
        volumeSectors = g.volumeBytes / sectorSize;
        const uint64_t align = g.boundaryAlignBytes ? g.boundaryAlignBytes : (g.volumeBytes >= 32 * kMiB ? kMiB : clusterSize);
        const uint64_t alignSectors = std::max<uint64_t>(1, align / sectorSize);
        fatOffset = g.fatOffset ? g.fatOffset : static_cast<uint32_t>(RoundUp(24, alignSectors));
        uint64_t fatBytes = RoundUp((g.volumeBytes / clusterSize) * 4, clusterSize);
        if (g.clusterCount)
            fatBytes = std::max<uint64_t>(fatBytes, RoundUp((uint64_t{g.clusterCount} + 2) * 4, sectorSize));
        fatLength = g.fatLength ? g.fatLength : static_cast<uint32_t>(fatBytes / sectorSize);
        heapOffset = g.clusterHeapOffset
                         ? g.clusterHeapOffset
                         : static_cast<uint32_t>(RoundUp(fatOffset + uint64_t{fatLength} * std::max<uint8_t>(1, g.numberOfFats), alignSectors));
        const uint64_t fitting = volumeSectors > heapOffset ? (volumeSectors - heapOffset) >> clusterShift : 0;
        clusterCount = g.clusterCount ? g.clusterCount : static_cast<uint32_t>(std::min<uint64_t>(fitting, 0xFFFFFFF5u));
        usableClusters = static_cast<uint32_t>(std::min<uint64_t>(clusterCount, fitting));
    }

    // --- allocation ---------------------------------------------------------

    bool IsFree(uint64_t cluster) const { return cluster >= 2 && cluster < taken.size() && !taken[cluster]; }

    std::vector<uint32_t> Allocate(uint64_t count, bool contiguous) {
        std::vector<uint32_t> result;
        if (count == 0)
            return result;
        for (uint64_t start = 2, run = 0; start + run < taken.size();) {
            if (IsFree(start + run)) {
                if (++run == count) {
                    for (uint64_t c = start; c < start + count; ++c)
                        result.push_back(static_cast<uint32_t>(c));
                    MarkTaken(result);
                    return result;
                }
            } else {
                start += run + 1;
                run = 0;
            }
        }
        if (contiguous)
            throw std::runtime_error("no run of " + std::to_string(count) + " free clusters");
        for (uint64_t c = 2; c < taken.size() && result.size() < count; ++c)
            if (!taken[c])
                result.push_back(static_cast<uint32_t>(c));
        if (result.size() < count)
            throw std::runtime_error("volume full");
        MarkTaken(result);
        return result;
    }

    void MarkTaken(const std::vector<uint32_t>& clusters) {
        for (uint32_t c : clusters) {
            if (c < 2 || c >= taken.size())
                throw std::invalid_argument("cluster " + std::to_string(c) + " is outside the heap");
            taken[c] = true;
        }
    }

    // --- tree ---------------------------------------------------------------

    bool SameName(const std::u16string& a, const std::u16string& b) const {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (upCaseMap[a[i]] != upCaseMap[b[i]])
                return false;
        return true;
    }

    Node* FindChild(const Node& dir, const std::u16string& name) const {
        Node* deletedMatch = nullptr;
        for (const Item& item : dir.items) {
            if (!item.child || !SameName(item.child->name, name))
                continue;
            if (!item.child->deleted)
                return item.child;
            deletedMatch = item.child;
        }
        return deletedMatch;
    }

    Node* Find(const std::string& path) const {
        const Node* node = &root;
        for (const std::u16string& part : SplitPath(path)) {
            node = FindChild(*node, part);
            if (!node)
                throw std::invalid_argument("no entry " + path);
        }
        return const_cast<Node*>(node);
    }

    Node& EnsureFolder(const std::vector<std::u16string>& parts, size_t count) {
        Node* dir = &root;
        for (size_t i = 0; i < count; ++i) {
            Node* next = FindChild(*dir, parts[i]);
            if (!next || next->deleted)
                next = &MakeFolder(*dir, parts[i], {});
            else if (!next->isDirectory)
                throw std::invalid_argument("not a folder: " + Utf16ToUtf8(parts[i]));
            dir = next;
        }
        return *dir;
    }

    Node& NewNode(Node& parent, const std::u16string& name, bool isDirectory, const ExFatEntryOptions& options) {
        if (name.empty() || name.size() > kMaxNameUnits)
            throw std::invalid_argument("exFAT names have 1 to 255 UTF-16 units");
        if (Node* existing = FindChild(parent, name); existing && !existing->deleted)
            throw std::invalid_argument("entry exists: " + Utf16ToUtf8(name));
        auto node = std::make_unique<Node>();
        node->name = name;
        node->path = (parent.path.empty() ? "" : parent.path + "/") + Utf16ToUtf8(name);
        node->parent = &parent;
        node->isDirectory = isDirectory;
        node->options = options;
        node->noFatChain = options.noFatChain;
        nodes.push_back(std::move(node));
        Node& added = *nodes.back();
        parent.items.push_back({&added, {}});
        return added;
    }

    Node& MakeFolder(Node& parent, const std::u16string& name, const ExFatEntryOptions& options) {
        Node& node = NewNode(parent, name, true, options);
        AssignClusters(node, std::max<uint32_t>(1, options.clusterCount));
        FitDirectory(node);
        FitDirectory(parent);
        return node;
    }

    void AssignClusters(Node& node, uint64_t needed) {
        const ExFatEntryOptions& options = node.options;
        if (!options.clusters.empty()) {
            node.clusters = options.clusters;
            MarkTaken(node.clusters);
        } else {
            node.clusters = Allocate(needed, node.noFatChain);
        }
        if (node.noFatChain)
            for (size_t i = 1; i < node.clusters.size(); ++i)
                if (node.clusters[i] != node.clusters[i - 1] + 1)
                    throw std::invalid_argument("NoFatChain needs consecutive clusters: " + node.path);
    }

    // --- directory growth ---------------------------------------------------

    size_t SetSlotCount(const Node& node) const {
        const size_t full = 2 + CeilDiv(node.name.size(), kNameUnitsPerEntry) + node.options.vendorEntries.size();
        return std::min(full, node.options.writtenSlots.value_or(full));
    }

    size_t SlotCount(const Node& dir) const {
        size_t slots = &dir == &root ? (LabelUnits().empty() ? 2 : 3) : 0;
        for (const Item& item : dir.items)
            slots += item.child ? SetSlotCount(*item.child) : 1;
        return slots;
    }

    void FitDirectory(Node& dir) {
        const uint64_t needed = std::max<uint64_t>(1, CeilDiv(SlotCount(dir) * 32, clusterSize));
        while (dir.clusters.size() < needed) {
            const uint32_t next = dir.clusters.back() + 1;
            if (IsFree(next)) {
                taken[next] = true;
                dir.clusters.push_back(next);
            } else if (dir.noFatChain) {
                throw std::runtime_error("NoFatChain folder cannot grow past cluster " + std::to_string(next - 1) +
                                         "; give it more clusters up front: " + dir.path);
            } else {
                dir.clusters.push_back(Allocate(1, false).front());
            }
        }
        if (&dir != &root)
            dir.dataLength = uint64_t{clusterSize} * dir.clusters.size();
    }

    std::u16string LabelUnits() const { return Utf8ToUtf16(geometry.volumeLabel); }

    // --- entries ------------------------------------------------------------

    std::vector<Slot> EntrySet(const Node& node) const {
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

    std::vector<Slot> RootSystemSlots() const {
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

    std::vector<Slot> DirectorySlots(const Node& dir) const {
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

    uint64_t EntryOffset(const Node& node) const {
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

    // --- geometry helpers ---------------------------------------------------

    uint64_t ClusterOffset(uint32_t cluster) const {
        return uint64_t{heapOffset} * sectorSize + uint64_t{cluster - 2} * clusterSize;
    }

    uint64_t VolumeBytes() const { return volumeSectors * sectorSize; }

    template <typename F>
    void ForEachNode(const Node& dir, F&& visit) const {
        for (const Item& item : dir.items)
            if (item.child) {
                visit(*item.child);
                if (item.child->isDirectory)
                    ForEachNode(*item.child, visit);
            }
    }

    ExFatEntryInfo Info(const Node& node) const {
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

    // --- rendering ----------------------------------------------------------

    void WriteIntoClusters(const Sink& sink, const std::vector<uint32_t>& clusters, uint64_t offset,
                           const uint8_t* data, size_t size) const {
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

    void RenderFileData(const Sink& sink, bool deletedPass) const {
        ForEachNode(root, [&](const Node& node) {
            if (node.isDirectory || node.deleted != deletedPass)
                return;
            for (const auto& [offset, bytes] : node.writes)
                WriteIntoClusters(sink, node.clusters, offset, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        });
    }

    void RenderDirectory(const Sink& sink, const Node& dir) const {
        const std::vector<Slot> slots = DirectorySlots(dir);
        std::vector<uint8_t> bytes(dir.clusters.size() * clusterSize, 0);
        for (size_t i = 0; i < slots.size() && (i + 1) * 32 <= bytes.size(); ++i)
            std::memcpy(&bytes[i * 32], slots[i].data(), 32);
        WriteIntoClusters(sink, dir.clusters, 0, bytes.data(), bytes.size());
    }

    std::vector<uint8_t> Bitmap(uint64_t* usedCount) const {
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

    std::map<uint32_t, uint32_t> FatEntries(int copy) const {
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

    void RenderFat(const Sink& sink, int copy) const {
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

    std::vector<uint8_t> BootRegion(const std::vector<std::pair<size_t, std::vector<uint8_t>>>& patches,
                                    uint8_t percentInUse) const {
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

    void Render(const Sink& sink) const {
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
};

// --- public surface ------------------------------------------------------------

ExFatImageBuilder::ExFatImageBuilder(const ExFatGeometry& geometry) : impl_(std::make_unique<Impl>(geometry)) {}
ExFatImageBuilder::~ExFatImageBuilder() = default;

void ExFatImageBuilder::AddFolder(const std::string& path, const ExFatEntryOptions& options) {
    const auto parts = SplitPath(path);
    if (parts.empty())
        throw std::invalid_argument("the root folder always exists");
    Impl::Node& parent = impl_->EnsureFolder(parts, parts.size() - 1);
    impl_->MakeFolder(parent, parts.back(), options);
}

void ExFatImageBuilder::AddFile(const std::string& path, const std::string& content, const ExFatEntryOptions& options) {
    const auto parts = SplitPath(path);
    if (parts.empty())
        throw std::invalid_argument("empty file path");
    Impl::Node& parent = impl_->EnsureFolder(parts, parts.size() - 1);
    Impl::Node& node = impl_->NewNode(parent, parts.back(), false, options);
    node.dataLength = options.dataLength.value_or(content.size());
    impl_->AssignClusters(node, CeilDiv(node.dataLength, impl_->clusterSize));
    if (!content.empty())
        node.writes.emplace_back(0, content);
    impl_->FitDirectory(parent);
}

void ExFatImageBuilder::WriteFileData(const std::string& path, uint64_t fileOffset, const std::string& bytes) {
    Impl::Node* node = impl_->Find(path);
    if (node->isDirectory)
        throw std::invalid_argument("not a file: " + path);
    node->writes.emplace_back(fileOffset, bytes);
}

void ExFatImageBuilder::DeleteEntry(const std::string& path, bool clearFatChain) {
    Impl::Node* node = impl_->Find(path);
    if (node == &impl_->root)
        throw std::invalid_argument("the root folder cannot be deleted");
    auto erase = [clearFatChain](Impl::Node& n) {
        n.deleted = true;
        n.fatCleared = clearFatChain;
    };
    erase(*node);
    if (node->isDirectory)
        impl_->ForEachNode(*node, erase);
}

void ExFatImageBuilder::AddRawSlot(const std::string& folderPath, const Slot& slot) {
    Impl::Node* dir = impl_->Find(folderPath);
    if (!dir->isDirectory)
        throw std::invalid_argument("not a folder: " + folderPath);
    dir->items.push_back({nullptr, slot});
    impl_->FitDirectory(*dir);
}

void ExFatImageBuilder::SetFatEntry(uint32_t cluster, uint32_t value, std::optional<uint8_t> fatCopy) {
    for (int copy = 0; copy < 2; ++copy)
        if (!fatCopy || *fatCopy == copy)
            impl_->fatOverrides[copy][cluster] = value;
}

void ExFatImageBuilder::PatchBootSector(size_t offset, const std::vector<uint8_t>& bytes, bool backupToo) {
    impl_->bootPatchesMain.emplace_back(offset, bytes);
    if (backupToo)
        impl_->bootPatchesBackup.emplace_back(offset, bytes);
}

void ExFatImageBuilder::WriteRaw(uint64_t volumeOffset, const std::vector<uint8_t>& bytes) {
    impl_->rawWrites.emplace_back(volumeOffset, bytes);
}

uint32_t ExFatImageBuilder::SectorSize() const { return impl_->sectorSize; }
uint32_t ExFatImageBuilder::ClusterSize() const { return impl_->clusterSize; }
uint64_t ExFatImageBuilder::VolumeLengthSectors() const { return impl_->volumeSectors; }
uint32_t ExFatImageBuilder::FatOffset() const { return impl_->fatOffset; }
uint32_t ExFatImageBuilder::FatLength() const { return impl_->fatLength; }
uint32_t ExFatImageBuilder::ClusterHeapOffset() const { return impl_->heapOffset; }
uint32_t ExFatImageBuilder::ClusterCount() const { return impl_->clusterCount; }
uint32_t ExFatImageBuilder::RootCluster() const { return impl_->root.clusters.front(); }
uint32_t ExFatImageBuilder::BitmapCluster() const { return impl_->bitmapClusters.front(); }
uint32_t ExFatImageBuilder::UpCaseCluster() const { return impl_->upCaseClusters.front(); }
uint64_t ExFatImageBuilder::ClusterOffset(uint32_t cluster) const { return impl_->ClusterOffset(cluster); }

ExFatEntryInfo ExFatImageBuilder::Describe(const std::string& path) const {
    const Impl::Node* node = impl_->Find(path);
    if (node == &impl_->root)
        throw std::invalid_argument("the root folder has no entry set");
    return impl_->Info(*node);
}

std::vector<ExFatEntryInfo> ExFatImageBuilder::Entries() const {
    std::vector<ExFatEntryInfo> all;
    impl_->ForEachNode(impl_->root, [&](const Impl::Node& node) { all.push_back(impl_->Info(node)); });
    return all;
}

std::string ExFatImageBuilder::FileData(const std::string& path) const {
    const Impl::Node* node = impl_->Find(path);
    if (node->isDirectory)
        throw std::invalid_argument("not a file: " + path);
    if (node->dataLength > kMaxFileDataCopy)
        throw std::length_error("file too large to copy: " + path);
    std::string data(node->dataLength, '\0');
    for (const auto& [offset, bytes] : node->writes)
        for (size_t i = 0; i < bytes.size() && offset + i < data.size(); ++i)
            data[offset + i] = bytes[i];
    return data;
}

std::vector<uint8_t> ExFatImageBuilder::Build() const {
    const uint64_t size = impl_->VolumeBytes();
    if (size > kMaxInMemoryVolume)
        throw std::length_error("volume too large for memory; use WriteTo");
    std::vector<uint8_t> image(size, 0);
    impl_->Render([&](uint64_t offset, const uint8_t* data, size_t n) {
        if (offset >= size)
            return;
        std::memcpy(&image[offset], data, static_cast<size_t>(std::min<uint64_t>(n, size - offset)));
    });
    return image;
}

void ExFatImageBuilder::WriteTo(const std::filesystem::path& file) const {
    const uint64_t size = impl_->VolumeBytes();
    { std::ofstream create(file, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(file, size);
    std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
    if (!out)
        throw std::runtime_error("cannot open " + file.string());
    impl_->Render([&](uint64_t offset, const uint8_t* data, size_t n) {
        if (offset >= size)
            return;
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(std::min<uint64_t>(n, size - offset)));
    });
    out.flush();
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

} // namespace TestSupport
