#pragma once
// Builds exFAT volume images (no partition table) for tests, with exact control
// over geometry, allocation and damage.
//
//   ExFatImageBuilder image({.volumeBytes = 64 << 20});
//   image.AddFolder("DCIM/100MEDIA");
//   image.AddFile("DCIM/100MEDIA/CLIP0001.MTS", bytes, {.noFatChain = true});
//   image.AddFile("A.BIN", bytes, {.clusters = {40, 41, 90}});     // fragmented chain
//   image.DeleteEntry("DCIM/100MEDIA/CLIP0001.MTS");                // 0x85 -> 0x05 ...
//   image.SetFatEntry(90, 40);                                      // loop
//   image.WriteTo(dir / "card.img");                                // sparse file
//
// Clusters are handed out at AddFile/AddFolder time, first fit from the start of
// the heap; clusters of deleted entries are not reused unless named explicitly
// in a cluster list. Directories grow by themselves when their entries no longer
// fit (a NoFatChain directory only into the clusters right after it).
// Nothing is written before Build/WriteTo; the volume is rendered from the model
// each time, so the builder can be changed and rendered again.
// The option structs are meant for designated initializers (GCC < 13 needs
// -Wno-missing-field-initializers for that) or plain field assignment.
// Damage knobs are applied last, in this order: boot sector patches (before the
// boot checksum), FAT overrides, raw writes (after everything).
#include "support/ExFatEncoding.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

// Volume geometry. Values left at 0 / nullopt are derived the way mkfs.exfat
// derives them; given values are written as they stand, even when they make no
// sense (that is how out-of-range tests are built).
struct ExFatGeometry {
    uint64_t volumeBytes = 32ull << 20;           // VolumeLength = volumeBytes >> BytesPerSectorShift
    uint8_t bytesPerSectorShift = 9;
    std::optional<uint8_t> sectorsPerClusterShift; // default: 4 KiB up to 256 MiB, 32 KiB up to 32 GiB, else 128 KiB
    uint64_t boundaryAlignBytes = 0;              // FAT and heap alignment; default 1 MiB, or one cluster below 32 MiB
    uint32_t fatOffset = 0;                       // sectors
    uint32_t fatLength = 0;                       // sectors per FAT copy
    uint32_t clusterHeapOffset = 0;               // sectors
    uint32_t clusterCount = 0;
    uint8_t numberOfFats = 1;
    uint16_t volumeFlags = 0;                     // bit 0 ActiveFat, bit 1 VolumeDirty
    uint16_t fileSystemRevision = 0x0100;         // major in the high byte
    uint64_t partitionOffset = 0;
    uint32_t volumeSerial = 0x4B4C5652;
    std::optional<uint8_t> percentInUse;          // default: computed from the bitmap
    std::string volumeLabel = "KALVORY";          // UTF-8, up to 11 UTF-16 units; empty: no label entry
    std::optional<std::vector<uint8_t>> upCaseTable; // raw table bytes; default: builder's own
    bool compressedUpCase = true;                 // form of the builder's own table
    uint32_t rootDirectoryClusters = 1;           // initial size; grows when needed
};

struct ExFatVendorEntry {
    uint8_t type = ExFat::kEntryVendorExtension;  // 0xE0 or 0xE1 (in-use form)
    std::array<uint8_t, 31> body{};               // bytes 1..31 as they go to disk
    // Vendor Extension: flags 0, GUID at 2..17, vendor data at 18..31.
    static ExFatVendorEntry Extension(const std::array<uint8_t, 16>& guid, const std::string& data = {});
    // Vendor Allocation: GUID, then FirstCluster / DataLength as given (no clusters are reserved).
    static ExFatVendorEntry Allocation(const std::array<uint8_t, 16>& guid, uint32_t firstCluster, uint64_t dataLength);
};

struct ExFatTimes {
    ExFat::Timestamp created{2020, 1, 1, 12, 0, 0};
    ExFat::Timestamp modified{2020, 1, 1, 12, 0, 0};
    ExFat::Timestamp accessed{2020, 1, 1, 12, 0, 0};
};

// Per-entry options. The override fields write wrong values on purpose.
struct ExFatEntryOptions {
    bool noFatChain = false;                 // GeneralSecondaryFlags bit 1; clusters must be consecutive
    std::vector<uint32_t> clusters;          // explicit clusters in chain order; empty: allocate
    uint32_t clusterCount = 0;               // folders: initial size in clusters (default 1)
    std::optional<uint64_t> dataLength;      // files: DataLength; default the content size. Bytes past
                                             // the content stay unwritten (holes in a sparse file)
    std::optional<uint64_t> validDataLength; // default DataLength
    std::optional<uint16_t> attributes;      // default 0x20 for files, 0x10 for folders
    ExFatTimes times;
    std::vector<ExFatVendorEntry> vendorEntries; // extra secondaries after the File Name entries
    std::optional<uint16_t> setChecksum;     // damage: SetChecksum as written
    std::optional<uint16_t> nameHash;
    std::optional<uint8_t> nameLength;
    std::optional<uint8_t> secondaryCount;
    std::optional<uint32_t> firstCluster;    // damage: Stream Extension FirstCluster as written
    std::optional<size_t> writtenSlots;      // damage: write only the first n slots of the set
};

struct ExFatExtent {
    uint64_t offset = 0; // volume byte offset
    uint64_t length = 0;
    bool operator==(const ExFatExtent&) const = default;
};

// What the builder put on the volume for one entry (live or deleted).
struct ExFatEntryInfo {
    std::string path;                  // UTF-8, '/'-separated, no leading slash
    bool isDirectory = false;
    bool deleted = false;
    bool noFatChain = false;
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;           // files: DataLength; folders: cluster bytes
    std::vector<uint32_t> clusters;    // chain order
    std::vector<ExFatExtent> extents;  // runs of consecutive clusters, trimmed to dataLength
    uint64_t entryOffset = 0;          // volume byte offset of the File entry
};

class ExFatImageBuilder {
public:
    explicit ExFatImageBuilder(const ExFatGeometry& geometry = {});
    ~ExFatImageBuilder();
    ExFatImageBuilder(const ExFatImageBuilder&) = delete;
    ExFatImageBuilder& operator=(const ExFatImageBuilder&) = delete;

    // Paths are UTF-8, '/'-separated; missing parent folders are created.
    void AddFolder(const std::string& path, const ExFatEntryOptions& options = {});
    void AddFile(const std::string& path, const std::string& content, const ExFatEntryOptions& options = {});
    // Writes bytes at fileOffset inside a file's data (e.g. the tail of a 5 GiB file).
    void WriteFileData(const std::string& path, uint64_t fileOffset, const std::string& bytes);
    // Clears the in-use bit of every slot of the set (and of everything below a
    // folder) and frees the clusters in the bitmap. The FAT chain stays unless
    // clearFatChain. The entry keeps its place and its data.
    void DeleteEntry(const std::string& path, bool clearFatChain = false);
    // Appends a raw 32-byte slot to a folder ("" is the root), e.g. a bare 0x80.
    void AddRawSlot(const std::string& folderPath, const ExFat::Slot& slot);

    // Damage knobs.
    void SetFatEntry(uint32_t cluster, uint32_t value, std::optional<uint8_t> fatCopy = std::nullopt);
    void PatchBootSector(size_t offset, const std::vector<uint8_t>& bytes, bool backupToo = true);
    void WriteRaw(uint64_t volumeOffset, const std::vector<uint8_t>& bytes);

    // Geometry as it goes to disk.
    uint32_t SectorSize() const;
    uint32_t ClusterSize() const;
    uint64_t VolumeLengthSectors() const;
    uint32_t FatOffset() const;
    uint32_t FatLength() const;
    uint32_t ClusterHeapOffset() const;
    uint32_t ClusterCount() const;
    uint32_t RootCluster() const;
    uint32_t BitmapCluster() const;
    uint32_t UpCaseCluster() const;
    uint64_t ClusterOffset(uint32_t cluster) const;

    // Entry accessors: the live entry at path, else the last deleted one.
    ExFatEntryInfo Describe(const std::string& path) const;
    std::vector<ExFatEntryInfo> Entries() const;       // every entry, depth first
    std::string FileData(const std::string& path) const; // DataLength bytes (holes as zeros)

    // Rendering. Build refuses volumes above 1 GiB; WriteTo writes only
    // metadata and data regions into a sparse file of the full volume size.
    std::vector<uint8_t> Build() const;
    void WriteTo(const std::filesystem::path& file) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace TestSupport
