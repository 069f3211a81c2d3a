#pragma once
// Shared by the FAT12/16 and FAT32 reader tests: byte-level record builders,
// reading records from memory, running a reader over an image file, and
// looking at the tree it builds.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "AAA_BitReader.h"
#include "AAA_Stream.h"
#include "AAA_WideString.h"
#include "DirEntry.h"
#include "support/FatImageBuilder.h"
#include "support/TempDir.h"

namespace FatReaderTest {

using Bytes = std::vector<uint8_t>;

// Appends `value` as `width` little-endian bytes (the annotated record
// builders below read like the tables that define them).
inline void Le(Bytes& out, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void Raw(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}
inline void Fill(Bytes& out, size_t count, uint8_t value = 0) {
    out.insert(out.end(), count, value);
}
inline void PutLe(Bytes& bytes, size_t offset, uint64_t value, int width) {
    for (int i = 0; i < width; ++i)
        bytes.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

template <class Record>
void ReadFrom(Record& record, const Bytes& bytes) {
    AAA::MemoryStream stream(bytes);
    AAA::BitReader reader(stream);
    record.Read(reader);
}

// One 32-byte short directory slot. `name11` is the blank-padded 8.3 name.
inline Bytes Slot(const std::string& name11, uint8_t attributes, uint32_t firstCluster, uint32_t length,
                  uint16_t date = 0x52CF /* 2021-06-15 */, uint16_t time = 0x53C0 /* 10:30:00 */) {
    EXPECT_EQ(name11.size(), 11u) << name11;
    Bytes out;
    Raw(out, name11.substr(0, 11));      // Name + NameExtension
    Le(out, attributes, 1);              // Attributes
    Le(out, 0, 1);                       // ReservedForNT
    Le(out, 0, 1);                       // CreatedTimeTenth
    Le(out, time, 2);                    // CreatedTime
    Le(out, date, 2);                    // CreatedDate
    Le(out, date, 2);                    // LastAccessDate
    Le(out, firstCluster >> 16, 2);      // StartingClusterNumberHigh (FAT32)
    Le(out, time, 2);                    // TimeRecorded
    Le(out, date, 2);                    // DateRecorded
    Le(out, firstCluster & 0xFFFF, 2);   // StartingClusterNumberLow
    Le(out, length, 4);                  // FileLength
    return out;
}

// A FAT12/16 boot sector with a fixed 512-slot root and two tables.
inline Bytes Fat1216BootSector(uint32_t totalSectors, uint8_t sectorsPerCluster, uint16_t reservedSectors,
                               uint16_t sectorsPerFat, const std::string& typeText8) {
    Bytes b;
    Le(b, 0x903CEB, 3);                                      // JumpCommand
    Raw(b, "KALVORY ");                                      // CreatingSystemIdentifier
    Le(b, 512, 2);                                           // SectorSize
    Le(b, sectorsPerCluster, 1);                             // SectorsPerCluster
    Le(b, reservedSectors, 2);                               // ReservedSectorCount
    Le(b, 2, 1);                                             // NumberOfFATs
    Le(b, 512, 2);                                           // NumberOfRootDirectoryEntries
    Le(b, totalSectors < 0x10000 ? totalSectors : 0, 2);     // TotalSectors1
    Le(b, 0xF8, 1);                                          // MediumIdentifier
    Le(b, sectorsPerFat, 2);                                 // SectorsPerFAT
    Le(b, 32, 2);                                            // SectorsPerTrack
    Le(b, 8, 2);                                             // NumberOfSides
    Le(b, 0, 4);                                             // NumberOfHiddenSectors
    Le(b, totalSectors < 0x10000 ? 0 : totalSectors, 4);     // TotalSectors2
    Le(b, 0x80, 1);                                          // PhysicalDiskNumber
    Le(b, 0, 1);                                             // Reserved
    Le(b, 0x29, 1);                                          // ExtendedBootRecordSignature
    Le(b, 0x11223344, 4);                                    // VolumeIdNumber
    Raw(b, "NO NAME    ");                                   // VolumeLabel
    Raw(b, typeText8);                                       // FileSystemType
    Fill(b, 448);                                            // ReservedForSystemUse
    b.push_back(0x55);                                       // SignatureWord
    b.push_back(0xAA);
    return b;
}

inline std::string Narrow(const AAA::WString& text) {
    return AAA::ToUtf8(text);
}

// Every entry under `root` by its path ("DCIM/MOV001.MOD"), deleted ones with
// their "!" names; folders included.
inline void Flatten(const FSAccessLib::DirEntry& folder, const std::string& prefix,
                    std::map<std::string, const FSAccessLib::DirEntry*>& out) {
    for (const auto& child : folder.children) {
        const std::string path = prefix + Narrow(child.name);
        out[path] = &child;
        if (child.isDirectory)
            Flatten(child, path + "/", out);
    }
}
inline std::map<std::string, const FSAccessLib::DirEntry*> Flatten(const FSAccessLib::DirEntry& root) {
    std::map<std::string, const FSAccessLib::DirEntry*> out;
    Flatten(root, "", out);
    return out;
}

// The bytes an entry describes: its chain, or `length` bytes from `start`.
// The flattened tree's paths, in order.
inline std::vector<std::string> PathsOf(const std::map<std::string, const FSAccessLib::DirEntry*>& tree) {
    std::vector<std::string> paths;
    for (const auto& [path, entry] : tree)
        paths.push_back(path);
    return paths;
}

inline Bytes DataOf(const Bytes& volume, const FSAccessLib::DirEntry& entry) {
    Bytes out;
    auto append = [&](uint64_t start, uint64_t length) {
        if (start + length > volume.size())
            ADD_FAILURE() << "extent beyond the volume: " << start << "+" << length;
        else
            out.insert(out.end(), volume.begin() + static_cast<std::ptrdiff_t>(start),
                       volume.begin() + static_cast<std::ptrdiff_t>(start + length));
    };
    if (entry.chain.empty())
        append(entry.start, entry.length);
    for (const auto& block : entry.chain)
        append(block.start, block.length);
    return out;
}

inline uint64_t ChainTotal(const FSAccessLib::DirEntry& entry) {
    uint64_t total = 0;
    for (const auto& block : entry.chain)
        total += block.length;
    return total;
}

inline Bytes Pattern(size_t size, uint32_t seed) {
    Bytes out(size);
    for (auto& byte : out) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(seed >> 24);
    }
    return out;
}

inline AAA::WString PathOf(const std::filesystem::path& file) {
    return AAA::FromUtf8(file.string());
}

// Opens a reader on `file` and runs the directory-search sequence; the tree
// goes into `root`. Returns the file count of BuildTree.
template <class Reader>
int ReadWholeVolume(Reader& reader, FSAccessLib::DirEntry& root) {
    EXPECT_TRUE(reader.Open());
    reader.ReadAllocationTable();
    reader.ReadRootDirectory();
    return reader.BuildTree(root);
}

} // namespace FatReaderTest
