#pragma once
// Builds FAT12, FAT16 and FAT32 volume images (a bare volume, no partition
// table) for tests, with exact control over geometry, directory slots and
// allocation chains, and knobs that damage the result on purpose.
// Plain standard C++: the engine is what these images test, so nothing of it
// is used here.
//
//   FatImageBuilder builder(FatVolumeOptions::Defaults(FatType::Fat16));
//   builder.AddFolder("DCIM");                          // parents are also made on demand
//   builder.AddFile("DCIM/MOV001.MOD", bytes);          // contiguous, first free clusters
//   builder.AddFile("clip one.mts", bytes);             // long name + generated CLIPON~1.MTS
//   builder.AddFile("FRAG.BIN", bytes, {.clusters = {40, 41, 90}});
//   builder.DeleteEntry("DCIM/MOV001.MOD");             // 0xE5, clusters freed, data kept
//   FatImage image = builder.Build();
//   image.SetFatEntry(90, 40);                          // damage: a loop
//   image.WriteTo(dir / "card.img");
//   image.Entry("FRAG.BIN").extents;                    // where the bytes are
//
// Layout rules of Build():
// - FAT entries 0 and 1 hold the media byte and the "clean" end value; every
//   table copy is identical; FAT32 gets FSInfo in sector 1 with the true free
//   count and a backup boot sector (sector 6) and FSInfo (sector 7).
// - Clusters given explicitly are reserved first; everything else gets the
//   lowest run of free clusters that is long enough (fragmented only when no
//   run fits). The FAT32 root directory starts at rootCluster.
// - Entries stay in the order they were added; deleted ones keep their slot.
//   Data of deleted entries is written before live data, so a live file given
//   a deleted file's clusters overwrites it (the "card reused" case).
// - Free clusters and unused slots are zero, so each directory ends with a
//   0x00 slot unless it is exactly full.
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace TestSupport {

enum class FatType { Fat12, Fat16, Fat32 };

// A FAT timestamp. Values are packed into their bit fields unchecked (only
// masked), so an invalid date such as month 13 reaches the disk as given.
struct FatDateTime {
    int year = 2021;
    int month = 6;
    int day = 15;
    int hour = 10;
    int minute = 30;
    int second = 0;  // stored in two-second units
};
std::uint16_t EncodeFatDate(const FatDateTime& value);
std::uint16_t EncodeFatTime(const FatDateTime& value);

struct FatVolumeOptions {
    FatType type = FatType::Fat16;
    std::uint16_t bytesPerSector = 512;
    std::uint32_t totalSectors = 65536;
    std::uint8_t sectorsPerCluster = 4;
    std::uint16_t reservedSectors = 1;
    std::uint8_t numberOfFats = 2;
    std::uint16_t rootEntryCount = 512;  // FAT12/16 only; FAT32 writes 0
    std::uint32_t sectorsPerFat = 0;     // 0: the smallest size that maps every cluster
    std::uint8_t media = 0xF8;
    std::uint32_t volumeId = 0x4B414C56;
    std::string volumeLabel = "KALVORY";  // boot sector; empty writes "NO NAME"
    bool labelEntry = true;               // also a volume-label slot first in the root
    std::uint32_t rootCluster = 2;        // FAT32 only
    std::uint32_t rootDirClusters = 1;    // FAT32 only: at least this many root clusters
    std::string fileSystemTypeText{};     // empty: "FAT12   ", "FAT16   " or "FAT32   "

    // A small valid volume of the given type: FAT12 2 MiB with 2 KiB clusters,
    // FAT16 32 MiB with 2 KiB clusters, FAT32 64 MiB with 512-byte clusters
    // (over 65525 clusters, as FAT32 needs).
    static FatVolumeOptions Defaults(FatType type);
};

enum class LongNameMode {
    Auto,    // long-name slots only when the name is not a plain upper-case 8.3 name
    Always,  // long-name slots even for 8.3 names
    Never,   // short entry only (a generated short name when the name is not 8.3)
};

struct FatEntryOptions {
    std::string shortName{};  // "NAME.EXT" written as is; empty: from the path's last part
    LongNameMode longName = LongNameMode::Auto;
    FatDateTime modified{};
    FatDateTime created{};
    FatDateTime accessed{};                  // only the date is stored
    std::optional<std::uint8_t> attributes{};  // default 0x20 for files, 0x10 for folders
    std::vector<std::uint32_t> clusters{};   // explicit chain in order; empty: allocated
    std::uint32_t minClusters = 0;           // folders: span at least this many clusters
    std::optional<std::uint32_t> sizeField{};  // FileLength to write instead of the true size
};

struct FatDeleteOptions {
    bool freeClusters = true;       // zero the chain in the FAT, as cameras and PCs do
    bool markLongNameSlots = true;  // 0xE5 on the long-name slots too
};

struct FatExtent {
    std::uint64_t offset = 0;  // byte offset in the volume
    std::uint64_t length = 0;
    bool operator==(const FatExtent&) const = default;
};

using FatEntryId = std::size_t;

// What Build() did with one entry, for comparing against a reader's result.
struct FatEntryInfo {
    FatEntryId id = 0;
    std::string path;       // as added, '/'-separated, no leading slash
    std::string shortName{};  // "NAME.EXT" (as before deletion)
    bool folder = false;
    bool deleted = false;
    std::uint32_t firstCluster = 0;
    std::vector<std::uint32_t> clusters;  // the chain as written (before any freeing)
    std::vector<FatExtent> extents;       // runs of the chain; files trimmed to their size
    std::vector<std::uint8_t> data;       // file contents (empty for folders)
    std::uint64_t slotOffset = 0;         // byte offset of the short entry
    std::uint32_t longNameSlots = 0;      // slots written right before the short entry
};

// Geometry of a built image, in the terms a reader derives from the boot sector.
struct FatLayout {
    FatType type = FatType::Fat16;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 1;
    std::uint32_t clusterSize = 512;
    std::uint32_t totalSectors = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t numberOfFats = 2;
    std::uint32_t sectorsPerFat = 0;
    std::uint32_t rootEntryCount = 0;
    std::uint32_t rootCluster = 0;       // FAT32
    std::uint32_t clusterCount = 0;      // data clusters, numbered 2 .. clusterCount + 1
    std::uint32_t fatEntryCount = 0;     // entries one table copy can hold
    std::uint64_t fatOffset = 0;         // first table copy
    std::uint64_t fatBytes = 0;          // one copy
    std::uint64_t rootDirOffset = 0;     // FAT12/16 root region, FAT32 root cluster
    std::uint64_t dataOffset = 0;        // cluster 2
    std::uint64_t ClusterOffset(std::uint32_t cluster) const;
    std::uint32_t EndOfChain() const;    // 0xFFF, 0xFFFF or 0x0FFFFFFF
};

class FatImage {
public:
    FatImage(std::vector<std::uint8_t> bytes, FatLayout layout, std::vector<FatEntryInfo> entries);

    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    std::vector<std::uint8_t>& MutableBytes() { return bytes_; }
    void WriteTo(const std::filesystem::path& file) const;
    const FatLayout& Layout() const { return layout_; }

    // Every entry added, live and deleted, in the order added.
    const std::vector<FatEntryInfo>& Entries() const { return entries_; }
    const FatEntryInfo& Entry(FatEntryId id) const;
    // The live entry at a path, names as added; throws if none.
    const FatEntryInfo& Entry(const std::string& path) const;

    std::uint32_t FatEntry(std::uint32_t cluster, unsigned copy = 0) const;
    std::array<std::uint8_t, 32> Slot(std::uint64_t offset) const;

    // Damage knobs. They change the bytes only; Entries() keeps describing the
    // intended volume.
    void WriteRaw(std::uint64_t offset, const std::vector<std::uint8_t>& bytes);
    void SetFatEntry(std::uint32_t cluster, std::uint32_t value);  // every copy
    void SetFatEntryInCopy(unsigned copy, std::uint32_t cluster, std::uint32_t value);
    void WriteSlot(std::uint64_t offset, const std::array<std::uint8_t, 32>& slot);
    // Overwrites the short entry of the live entry at path with bytes that no
    // reader accepts (attribute 0xFF, bad name bytes).
    void CorruptSlot(const std::string& path);
    void BreakBootSignature();  // the 0x55AA of sector 0 (and the FAT32 backup)
    void SetFsInfo(std::uint32_t freeCount, std::uint32_t nextFree);  // FAT32
    void BreakFsInfoSignature();                                      // FAT32 lead signature

private:
    std::vector<std::uint8_t> bytes_;
    FatLayout layout_;
    std::vector<FatEntryInfo> entries_;
};

// Where byte `inFile` of the file at `path` lies in the volume; throws
// std::out_of_range when the file is shorter.
std::uint64_t VolumeOffsetOf(const FatImage& image, const std::string& path, std::uint64_t inFile);

class FatImageBuilder {
public:
    explicit FatImageBuilder(FatVolumeOptions options = FatVolumeOptions::Defaults(FatType::Fat16));

    // Paths are '/'-separated from the root. Missing parent folders are added
    // with default options. Adding a live name twice to one folder throws.
    FatEntryId AddFolder(const std::string& path, const FatEntryOptions& options = {});
    FatEntryId AddFile(const std::string& path, std::vector<std::uint8_t> data,
                       const FatEntryOptions& options = {});
    FatEntryId AddFile(const std::string& path, std::string_view data, const FatEntryOptions& options = {});
    // Appends 32 arbitrary bytes as the next slot of a folder ("" = root), e.g. a
    // damaged slot or an early 0x00 end marker in front of later entries.
    void AddRawSlot(const std::string& folderPath, const std::array<std::uint8_t, 32>& slot);
    // Deletes the live entry at path; a folder's contents are deleted with it
    // (their slots inside the folder marked too). Later adds may reuse the name.
    FatEntryId DeleteEntry(const std::string& path, const FatDeleteOptions& options = {});

    FatImage Build() const;

    struct Node;
    using Item = std::variant<FatEntryId, std::array<std::uint8_t, 32>>;

private:
    FatEntryId AddNode(const std::string& path, bool folder, std::vector<std::uint8_t> data,
                       const FatEntryOptions& options);
    FatEntryId FindLive(const std::string& path) const;
    FatEntryId FindOrMakeFolder(const std::string& path);
    void MarkDeleted(FatEntryId id, const FatDeleteOptions& options);

    FatVolumeOptions options_;
    std::vector<Node> nodes_;  // [0] is the root
};

// The builder's record of one entry; read by the volume writer.
struct FatImageBuilder::Node {
    std::string name;  // as added (long name)
    std::string path;
    std::array<std::uint8_t, 11> shortName{};
    std::u16string longName;  // empty: no long-name slots
    bool folder = false;
    bool deleted = false;
    FatDeleteOptions deleteOptions;
    FatEntryOptions options;
    std::vector<std::uint8_t> data;
    FatEntryId parent = 0;
    std::vector<Item> items;  // folders: children and raw slots, in order
};

} // namespace TestSupport
