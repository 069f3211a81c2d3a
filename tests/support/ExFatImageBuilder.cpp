#include "support/ExFatImageBuilderImpl.h"

#include <fstream>

namespace TestSupport {

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

// --- laying the volume out -----------------------------------------------------

ExFatImageBuilder::Impl::Impl(const ExFatGeometry& g) : geometry(g) {
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

auto ExFatImageBuilder::Impl::DeriveGeometry() -> void {
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

auto ExFatImageBuilder::Impl::Allocate(uint64_t count, bool contiguous) -> std::vector<uint32_t> {
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

auto ExFatImageBuilder::Impl::MarkTaken(const std::vector<uint32_t>& clusters) -> void {
    for (uint32_t c : clusters) {
        if (c < 2 || c >= taken.size())
            throw std::invalid_argument("cluster " + std::to_string(c) + " is outside the heap");
        taken[c] = true;
    }
}

auto ExFatImageBuilder::Impl::SameName(const std::u16string& a, const std::u16string& b) const -> bool {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (upCaseMap[a[i]] != upCaseMap[b[i]])
            return false;
    return true;
}

auto ExFatImageBuilder::Impl::FindChild(const Node& dir, const std::u16string& name) const -> Node* {
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

auto ExFatImageBuilder::Impl::Find(const std::string& path) const -> Node* {
    const Node* node = &root;
    for (const std::u16string& part : SplitPath(path)) {
        node = FindChild(*node, part);
        if (!node)
            throw std::invalid_argument("no entry " + path);
    }
    return const_cast<Node*>(node);
}

auto ExFatImageBuilder::Impl::EnsureFolder(const std::vector<std::u16string>& parts, size_t count) -> Node& {
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

auto ExFatImageBuilder::Impl::NewNode(Node& parent, const std::u16string& name, bool isDirectory, const ExFatEntryOptions& options) -> Node& {
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

auto ExFatImageBuilder::Impl::MakeFolder(Node& parent, const std::u16string& name, const ExFatEntryOptions& options) -> Node& {
    Node& node = NewNode(parent, name, true, options);
    AssignClusters(node, std::max<uint32_t>(1, options.clusterCount));
    FitDirectory(node);
    FitDirectory(parent);
    return node;
}

auto ExFatImageBuilder::Impl::AssignClusters(Node& node, uint64_t needed) -> void {
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

auto ExFatImageBuilder::Impl::SetSlotCount(const Node& node) const -> size_t {
    const size_t full = 2 + CeilDiv(node.name.size(), kNameUnitsPerEntry) + node.options.vendorEntries.size();
    return std::min(full, node.options.writtenSlots.value_or(full));
}

auto ExFatImageBuilder::Impl::SlotCount(const Node& dir) const -> size_t {
    size_t slots = &dir == &root ? (LabelUnits().empty() ? 2 : 3) : 0;
    for (const Item& item : dir.items)
        slots += item.child ? SetSlotCount(*item.child) : 1;
    return slots;
}

auto ExFatImageBuilder::Impl::FitDirectory(Node& dir) -> void {
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
