#pragma once
// A raw volume for the sector search: any image file, its data area where the
// test says, sectors of 512 bytes; and builders of the media the search finds.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AAA_Progress.h"
#include "AAA_WideString.h"
#include "FSAccessBase.h"

namespace SearchTest {

namespace fs = std::filesystem;

class RawVolume : public FSAccessLib::FSAccessBase {
public:
    explicit RawVolume(const fs::path& image, uint64_t dataStart = 0, uint32_t sector = 512)
        : FSAccessBase(AAA::FromUtf8(image.string())) {
        OpenSourceStream();
        sectorSize = sector;
        clusterSize = sector;
        searchStep = sector;
        startOfDataArea = dataStart;
        totalBytes = fs::file_size(image);
        ApplyGeometry();
    }
    ~RawVolume() override { Restore::SetProgressTotal(0); }
    bool Open() override { return true; }
    void ReadAllocationTable() override {}
    void ReadRootDirectory() override {}
    int BuildTree(FSAccessLib::DirEntry&) override { return 0; }
    int AddFoundDirectory(FSAccessLib::DirEntry&, uint64_t, uint64_t&) override { return 0; }
    void BuildDataChain(FSAccessLib::DirEntry&) override {}
    uint32_t FirstCluster(AAA::Block&) override { return 0; }
};

// A sparse image of `bytes` with pieces written at given offsets.
class ImageWriter {
public:
    ImageWriter(const fs::path& path, uint64_t bytes) : path_(path) {
        std::ofstream(path, std::ios::binary).close();
        fs::resize_file(path, bytes);
    }
    void Put(uint64_t offset, const std::string& bytes) {
        std::fstream out(path_, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(offset));
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

private:
    fs::path path_;
};

inline void PutBe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>(value >> (24 - 8 * i));
}

// A management file: `signature` at 0, the last section's offset in the
// header word at `offsetWord`, a last section of `sectionBytes` after its length.
inline std::string ManagementFile(const std::string& signature, size_t offsetWord, uint32_t lastSection,
                                  uint32_t sectionBytes) {
    std::string file(lastSection + 4 + sectionBytes, '\x11');
    file.replace(0, 4, signature);
    std::memset(file.data() + 4, '0', 4); // version "0100"-like
    for (size_t at = 8; at < 64 && at + 4 <= lastSection; at += 4)
        PutBe32(file, at, 0);
    if (offsetWord != 0)
        PutBe32(file, offsetWord, lastSection);
    PutBe32(file, lastSection, sectionBytes);
    return file;
}

// Source packets: a PAT first, then video PIDs, arrival times `step` apart.
inline std::string SourcePackets(size_t count, uint32_t firstAts = 1000, uint32_t step = 2256, uint8_t fill = 0x5A) {
    std::string bytes(count * 192, static_cast<char>(fill));
    for (size_t i = 0; i < count; ++i) {
        const size_t at = i * 192;
        PutBe32(bytes, at, (firstAts + static_cast<uint32_t>(i) * step) & 0x3FFFFFFF);
        bytes[at + 4] = 0x47;
        const uint16_t pid = i == 0 ? 0x0000 : 0x1011;
        bytes[at + 5] = static_cast<char>(0x40 | pid >> 8);
        bytes[at + 6] = static_cast<char>(pid & 0xFF);
    }
    return bytes;
}

} // namespace SearchTest
