#include "support/FatVolumeWriter.h"

#include "support/FatGeometry.h"
#include "support/FatNames.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace TestSupport {

namespace {

using Node = FatImageBuilder::Node;

void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

class VolumeWriter {
public:
    VolumeWriter(const FatVolumeOptions& options, const std::vector<Node>& nodes)
        : o_(options), nodes_(nodes), l_(ComputeFatLayout(options)), chains_(nodes.size()), infos_(nodes.size()) {}

    FatImage Write() {
        image_.assign(std::uint64_t{l_.totalSectors} * l_.bytesPerSector, 0);
        Allocate();
        WriteTable();
        for (bool deletedPass : {true, false})
            for (FatEntryId id = 0; id < nodes_.size(); ++id)
                if (nodes_[id].deleted == deletedPass) WriteContents(id);
        WriteTableCopies();
        WriteBootRegion(image_, o_, l_, FreeClusters(), NextFree());
        DescribeEntries();
        return FatImage(std::move(image_), l_, std::move(infos_));
    }

private:
    bool IsFat32Root(FatEntryId id) const { return id == 0 && o_.type == FatType::Fat32; }
    std::uint32_t FirstCluster(FatEntryId id) const { return chains_[id].empty() ? 0 : chains_[id].front(); }
    std::uint32_t LastCluster() const { return std::min(l_.clusterCount + 1, l_.fatEntryCount - 1); }

    // --- directory contents -------------------------------------------------

    FatSlot ShortSlot(const Node& n, const FatShortName& name, std::uint32_t cluster) const {
        const FatEntryOptions& opt = n.options;
        FatSlot s{};
        std::copy(name.begin(), name.end(), s.begin());
        if (s[0] == 0xE5) s[0] = 0x05;
        s[11] = opt.attributes.value_or(n.folder ? 0x10 : 0x20);
        Put16(&s[14], EncodeFatTime(opt.created));
        Put16(&s[16], EncodeFatDate(opt.created));
        Put16(&s[18], EncodeFatDate(opt.accessed));
        Put16(&s[20], o_.type == FatType::Fat32 ? cluster >> 16 : 0);
        Put16(&s[22], EncodeFatTime(opt.modified));
        Put16(&s[24], EncodeFatDate(opt.modified));
        Put16(&s[26], cluster & 0xFFFF);
        const std::uint32_t size = n.folder ? 0 : static_cast<std::uint32_t>(n.data.size());
        const std::uint32_t field = opt.sizeField.value_or(size);
        Put16(&s[28], field & 0xFFFF);
        Put16(&s[30], field >> 16);
        return s;
    }

    FatSlot LabelSlot() const {
        FatSlot s{};
        std::memset(s.data(), ' ', 11);
        std::memcpy(s.data(), o_.volumeLabel.data(), std::min<std::size_t>(11, o_.volumeLabel.size()));
        s[11] = 0x08;
        Put16(&s[22], EncodeFatTime(FatDateTime{}));
        Put16(&s[24], EncodeFatDate(FatDateTime{}));
        return s;
    }

    // The slots of a folder; records where each child's short entry sits.
    std::vector<FatSlot> RenderFolder(FatEntryId id, std::vector<std::pair<FatEntryId, std::size_t>>* placed) const {
        const Node& folder = nodes_[id];
        std::vector<FatSlot> slots;
        if (id == 0 && o_.labelEntry && !o_.volumeLabel.empty()) slots.push_back(LabelSlot());
        if (id != 0) {
            slots.push_back(ShortSlot(folder, PackShortName("."), FirstCluster(id)));
            // ".." names cluster 0 for the root, on FAT32 too.
            const std::uint32_t parentCluster = folder.parent == 0 ? 0 : FirstCluster(folder.parent);
            slots.push_back(ShortSlot(folder, PackShortName(".."), parentCluster));
        }
        for (const FatImageBuilder::Item& item : folder.items) {
            if (const auto* raw = std::get_if<FatSlot>(&item)) {
                slots.push_back(*raw);
                continue;
            }
            const FatEntryId child = std::get<FatEntryId>(item);
            const Node& n = nodes_[child];
            if (!n.longName.empty())
                for (FatSlot lfn : LongNameSlots(n.longName, n.shortName)) {
                    if (n.deleted && n.deleteOptions.markLongNameSlots) lfn[0] = 0xE5;
                    slots.push_back(lfn);
                }
            FatSlot entry = ShortSlot(n, n.shortName, FirstCluster(child));
            if (n.deleted) entry[0] = 0xE5;
            if (placed) placed->emplace_back(child, slots.size());
            slots.push_back(entry);
        }
        return slots;
    }

    // --- allocation ---------------------------------------------------------

    std::uint32_t ClustersNeeded(FatEntryId id) const {
        const Node& n = nodes_[id];
        const std::uint64_t cs = l_.clusterSize;
        if (!n.folder) return static_cast<std::uint32_t>((n.data.size() + cs - 1) / cs);
        const std::uint64_t bytes = RenderFolder(id, nullptr).size() * 32;
        std::uint32_t count = std::max<std::uint32_t>(1, static_cast<std::uint32_t>((bytes + cs - 1) / cs));
        count = std::max(count, n.options.minClusters);
        return IsFat32Root(id) ? std::max(count, o_.rootDirClusters) : count;
    }

    void Claim(FatEntryId id, const std::vector<std::uint32_t>& clusters) {
        for (std::uint32_t c : clusters) {
            if (c < 2 || c > LastCluster())
                throw std::invalid_argument("cluster " + std::to_string(c) + " is outside the data area");
            if (liveOwner_[c] && !nodes_[id].deleted)
                throw std::invalid_argument("cluster " + std::to_string(c) + " given to two live entries");
            used_[c] = true;
            if (!nodes_[id].deleted) liveOwner_[c] = true;
        }
        chains_[id] = clusters;
    }

    std::vector<std::uint32_t> FindFree(std::uint32_t count) const {
        std::uint32_t run = 0;
        for (std::uint32_t c = 2; c <= LastCluster() && count > 0; ++c) {
            run = used_[c] ? 0 : run + 1;
            if (run == count) {
                std::vector<std::uint32_t> out(count);
                for (std::uint32_t k = 0; k < count; ++k) out[k] = c - count + 1 + k;
                return out;
            }
        }
        std::vector<std::uint32_t> out;
        for (std::uint32_t c = 2; c <= LastCluster() && out.size() < count; ++c)
            if (!used_[c]) out.push_back(c);
        if (out.size() < count) throw std::runtime_error("FAT image: volume full");
        return out;
    }

    void Allocate() {
        used_.assign(std::uint64_t{LastCluster()} + 1, false);
        liveOwner_.assign(used_.size(), false);
        if (o_.type == FatType::Fat32) {
            std::vector<std::uint32_t> root(ClustersNeeded(0));
            for (std::size_t k = 0; k < root.size(); ++k) root[k] = o_.rootCluster + static_cast<std::uint32_t>(k);
            Claim(0, root);
        }
        for (FatEntryId id = 1; id < nodes_.size(); ++id)
            if (!nodes_[id].options.clusters.empty()) Claim(id, nodes_[id].options.clusters);
        for (FatEntryId id = 1; id < nodes_.size(); ++id)
            if (nodes_[id].options.clusters.empty()) Claim(id, FindFree(ClustersNeeded(id)));
    }

    // --- tables and contents ------------------------------------------------

    void WriteChain(const std::vector<std::uint32_t>& chain) {
        for (std::size_t k = 0; k < chain.size(); ++k)
            fat_[chain[k]] = k + 1 < chain.size() ? chain[k + 1] : l_.EndOfChain();
    }

    void WriteTable() {
        fat_.assign(l_.fatEntryCount, 0);
        fat_[0] = (l_.EndOfChain() & ~0xFFu) | o_.media;
        fat_[1] = l_.EndOfChain();
        for (bool deletedPass : {true, false})
            for (FatEntryId id = 0; id < nodes_.size(); ++id) {
                if (nodes_[id].deleted != deletedPass) continue;
                WriteChain(chains_[id]);
                if (deletedPass && nodes_[id].deleteOptions.freeClusters)
                    for (std::uint32_t c : chains_[id]) fat_[c] = 0;
            }
    }

    void WriteTableCopies() {
        std::uint8_t* first = image_.data() + l_.fatOffset;
        for (std::uint32_t c = 0; c < l_.fatEntryCount; ++c) WriteFatTableEntry(l_.type, first, c, fat_[c]);
        for (std::uint32_t copy = 1; copy < l_.numberOfFats; ++copy)
            std::memcpy(first + copy * l_.fatBytes, first, l_.fatBytes);
    }

    // Byte offset of position `pos` inside entry `id`'s storage.
    std::uint64_t OffsetIn(FatEntryId id, std::uint64_t pos) const {
        if (id == 0 && o_.type != FatType::Fat32) return l_.rootDirOffset + pos;
        return l_.ClusterOffset(chains_[id].at(pos / l_.clusterSize)) + pos % l_.clusterSize;
    }

    void Store(FatEntryId id, const std::uint8_t* bytes, std::uint64_t size) {
        const std::uint64_t capacity = id == 0 && o_.type != FatType::Fat32
                                           ? std::uint64_t{l_.rootEntryCount} * 32
                                           : std::uint64_t{chains_[id].size()} * l_.clusterSize;
        if (size > capacity) throw std::invalid_argument("entry does not fit its space: " + (id == 0 ? std::string("(root)") : nodes_[id].path));
        for (std::uint64_t pos = 0; pos < size;) {
            const std::uint64_t chunk = std::min<std::uint64_t>(size - pos, l_.clusterSize - pos % l_.clusterSize);
            std::memcpy(image_.data() + OffsetIn(id, pos), bytes + pos, chunk);
            pos += chunk;
        }
    }

    void WriteContents(FatEntryId id) {
        const Node& n = nodes_[id];
        if (!n.folder) {
            Store(id, n.data.data(), n.data.size());
            return;
        }
        std::vector<std::pair<FatEntryId, std::size_t>> placed;
        const std::vector<FatSlot> slots = RenderFolder(id, &placed);
        std::vector<std::uint8_t> bytes(slots.size() * 32);
        for (std::size_t k = 0; k < slots.size(); ++k) std::memcpy(&bytes[k * 32], slots[k].data(), 32);
        Store(id, bytes.data(), bytes.size());
        for (const auto& [child, index] : placed) {
            infos_[child].slotOffset = OffsetIn(id, index * 32);
            infos_[child].longNameSlots = static_cast<std::uint32_t>((nodes_[child].longName.size() + 12) / 13);
        }
    }

    std::uint32_t FreeClusters() const {
        std::uint32_t count = 0;
        for (std::uint32_t c = 2; c <= LastCluster(); ++c) count += fat_[c] == 0;
        return count;
    }

    std::uint32_t NextFree() const {
        for (std::uint32_t c = 2; c <= LastCluster(); ++c)
            if (fat_[c] == 0) return c;
        return 0xFFFFFFFF;
    }

    // --- description for tests ---------------------------------------------

    std::vector<FatExtent> Extents(FatEntryId id) const {
        std::vector<FatExtent> out;
        const auto& chain = chains_[id];
        for (std::size_t k = 0; k < chain.size(); ++k) {
            if (k > 0 && chain[k] == chain[k - 1] + 1)
                out.back().length += l_.clusterSize;
            else
                out.push_back({l_.ClusterOffset(chain[k]), l_.clusterSize});
        }
        if (nodes_[id].folder) return out;
        std::uint64_t left = nodes_[id].data.size();
        std::vector<FatExtent> trimmed;
        for (FatExtent e : out) {
            if (left == 0) break;
            e.length = std::min(e.length, left);
            left -= e.length;
            trimmed.push_back(e);
        }
        return trimmed;
    }

    void DescribeEntries() {
        for (FatEntryId id = 0; id < nodes_.size(); ++id) {
            FatEntryInfo& info = infos_[id];
            const Node& n = nodes_[id];
            info.id = id;
            info.path = n.path;
            info.shortName = id == 0 ? "" : ShortNameText(n.shortName);
            info.folder = n.folder;
            info.deleted = n.deleted;
            info.firstCluster = FirstCluster(id);
            info.clusters = chains_[id];
            info.extents = Extents(id);
            info.data = n.data;
            if (id == 0) info.slotOffset = 0;
        }
    }

    const FatVolumeOptions& o_;
    const std::vector<Node>& nodes_;
    FatLayout l_;
    std::vector<std::vector<std::uint32_t>> chains_;
    std::vector<FatEntryInfo> infos_;
    std::vector<bool> used_;
    std::vector<bool> liveOwner_;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint8_t> image_;
};

} // namespace

FatImage WriteFatVolume(const FatVolumeOptions& options, const std::vector<FatImageBuilder::Node>& nodes) {
    return VolumeWriter(options, nodes).Write();
}

} // namespace TestSupport
