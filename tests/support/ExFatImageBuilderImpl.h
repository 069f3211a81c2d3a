#pragma once
// The exFAT image builder's inside, shared by the file that lays a volume out
// (clusters, folders, entries) and the one that renders its bytes.
#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "support/ExFatImageBuilder.h"

namespace TestSupport {

using namespace ExFat;

namespace ExFatBuild {

constexpr uint64_t kMiB = 1ull << 20;
constexpr uint64_t kMaxInMemoryVolume = 1ull << 30;
constexpr uint64_t kMaxFileDataCopy = 256 * kMiB;

using Sink = std::function<void(uint64_t offset, const uint8_t* data, size_t size)>;

inline uint64_t CeilDiv(uint64_t a, uint64_t b) { return (a + b - 1) / b; }
inline uint64_t RoundUp(uint64_t a, uint64_t b) { return CeilDiv(a, b) * b; }

inline uint8_t DefaultClusterShift(uint64_t volumeBytes, uint8_t sectorShift) {
    const uint8_t clusterShift = volumeBytes <= 256 * kMiB ? 12 : volumeBytes <= 32 * 1024 * kMiB ? 15 : 17;
    return clusterShift > sectorShift ? static_cast<uint8_t>(clusterShift - sectorShift) : 0;
}

inline std::vector<std::u16string> SplitPath(const std::string& path) {
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

inline std::vector<ExFatExtent> RunsOf(const std::vector<uint32_t>& clusters, uint64_t limit,
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

} // namespace ExFatBuild

using namespace ExFatBuild;

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

    explicit Impl(const ExFatGeometry& g);

    void DeriveGeometry();

    // --- allocation ---------------------------------------------------------

    bool IsFree(uint64_t cluster) const { return cluster >= 2 && cluster < taken.size() && !taken[cluster]; }

    std::vector<uint32_t> Allocate(uint64_t count, bool contiguous);

    void MarkTaken(const std::vector<uint32_t>& clusters);

    // --- tree ---------------------------------------------------------------

    bool SameName(const std::u16string& a, const std::u16string& b) const;

    Node* FindChild(const Node& dir, const std::u16string& name) const;

    Node* Find(const std::string& path) const;

    Node& EnsureFolder(const std::vector<std::u16string>& parts, size_t count);

    Node& NewNode(Node& parent, const std::u16string& name, bool isDirectory, const ExFatEntryOptions& options);

    Node& MakeFolder(Node& parent, const std::u16string& name, const ExFatEntryOptions& options);

    void AssignClusters(Node& node, uint64_t needed);

    // --- directory growth ---------------------------------------------------

    size_t SetSlotCount(const Node& node) const;

    size_t SlotCount(const Node& dir) const;

    void FitDirectory(Node& dir);

    std::u16string LabelUnits() const { return Utf8ToUtf16(geometry.volumeLabel); }

    // --- entries ------------------------------------------------------------

    std::vector<Slot> EntrySet(const Node& node) const;

    std::vector<Slot> RootSystemSlots() const;

    std::vector<Slot> DirectorySlots(const Node& dir) const;

    uint64_t EntryOffset(const Node& node) const;

    // --- geometry helpers ---------------------------------------------------

    uint64_t ClusterOffset(uint32_t cluster) const;

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

    ExFatEntryInfo Info(const Node& node) const;

    // --- rendering ----------------------------------------------------------

    void WriteIntoClusters(const Sink& sink, const std::vector<uint32_t>& clusters, uint64_t offset,
                           const uint8_t* data, size_t size) const;

    void RenderFileData(const Sink& sink, bool deletedPass) const;

    void RenderDirectory(const Sink& sink, const Node& dir) const;

    std::vector<uint8_t> Bitmap(uint64_t* usedCount) const;

    std::map<uint32_t, uint32_t> FatEntries(int copy) const;

    void RenderFat(const Sink& sink, int copy) const;

    std::vector<uint8_t> BootRegion(const std::vector<std::pair<size_t, std::vector<uint8_t>>>& patches,
                                    uint8_t percentInUse) const;

    void Render(const Sink& sink) const;
};

} // namespace TestSupport
