#include "support/FatImageBuilder.h"

#include "support/FatGeometry.h"
#include "support/TempDir.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace TestSupport {

FatImage::FatImage(std::vector<std::uint8_t> bytes, FatLayout layout, std::vector<FatEntryInfo> entries)
    : bytes_(std::move(bytes)), layout_(layout), entries_(std::move(entries)) {}

void FatImage::WriteTo(const std::filesystem::path& file) const {
    WriteFileBytes(file, std::string(bytes_.begin(), bytes_.end()));
}

const FatEntryInfo& FatImage::Entry(FatEntryId id) const {
    return entries_.at(id);
}

const FatEntryInfo& FatImage::Entry(const std::string& path) const {
    std::string key = path;
    while (!key.empty() && key.front() == '/') key.erase(0, 1);
    for (const FatEntryInfo& entry : entries_)
        if (!entry.deleted && entry.path == key) return entry;
    throw std::invalid_argument("no live entry at " + path);
}

std::uint32_t FatImage::FatEntry(std::uint32_t cluster, unsigned copy) const {
    if (cluster >= layout_.fatEntryCount || copy >= layout_.numberOfFats) throw std::out_of_range("FAT entry");
    return ReadFatTableEntry(layout_.type, bytes_.data() + layout_.fatOffset + copy * layout_.fatBytes, cluster);
}

std::array<std::uint8_t, 32> FatImage::Slot(std::uint64_t offset) const {
    if (offset + 32 > bytes_.size()) throw std::out_of_range("slot beyond the image");
    std::array<std::uint8_t, 32> slot{};
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), 32, slot.begin());
    return slot;
}

void FatImage::WriteRaw(std::uint64_t offset, const std::vector<std::uint8_t>& bytes) {
    if (offset + bytes.size() > bytes_.size()) throw std::out_of_range("write beyond the image");
    std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

void FatImage::SetFatEntry(std::uint32_t cluster, std::uint32_t value) {
    for (unsigned copy = 0; copy < layout_.numberOfFats; ++copy) SetFatEntryInCopy(copy, cluster, value);
}

void FatImage::SetFatEntryInCopy(unsigned copy, std::uint32_t cluster, std::uint32_t value) {
    if (cluster >= layout_.fatEntryCount || copy >= layout_.numberOfFats) throw std::out_of_range("FAT entry");
    WriteFatTableEntry(layout_.type, bytes_.data() + layout_.fatOffset + copy * layout_.fatBytes, cluster, value);
}

void FatImage::WriteSlot(std::uint64_t offset, const std::array<std::uint8_t, 32>& slot) {
    WriteRaw(offset, std::vector<std::uint8_t>(slot.begin(), slot.end()));
}

void FatImage::CorruptSlot(const std::string& path) {
    std::array<std::uint8_t, 32> slot;
    slot.fill(0xFF);
    for (int i = 0; i < 11; ++i) slot[i] = '?';
    WriteSlot(Entry(path).slotOffset, slot);
}

void FatImage::BreakBootSignature() {
    WriteRaw(510, {0, 0});
    if (layout_.type == FatType::Fat32 && layout_.reservedSectors > 7)
        WriteRaw(6 * std::uint64_t{layout_.bytesPerSector} + 510, {0, 0});
}

void FatImage::SetFsInfo(std::uint32_t freeCount, std::uint32_t nextFree) {
    if (layout_.type != FatType::Fat32) throw std::logic_error("FSInfo exists on FAT32 only");
    auto le = [](std::uint32_t v) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                                         static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    };
    WriteRaw(layout_.bytesPerSector + 488, le(freeCount));
    WriteRaw(layout_.bytesPerSector + 492, le(nextFree));
}

void FatImage::BreakFsInfoSignature() {
    if (layout_.type != FatType::Fat32) throw std::logic_error("FSInfo exists on FAT32 only");
    WriteRaw(layout_.bytesPerSector, {'X', 'X', 'X', 'X'});
}

std::uint64_t VolumeOffsetOf(const FatImage& image, const std::string& path, std::uint64_t inFile) {
    std::uint64_t skipped = 0;
    for (const auto& extent : image.Entry(path).extents) {
        if (inFile < skipped + extent.length)
            return extent.offset + inFile - skipped;
        skipped += extent.length;
    }
    throw std::out_of_range(path + " is shorter than " + std::to_string(inFile) + " bytes");
}

} // namespace TestSupport
