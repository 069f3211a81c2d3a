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
#include "support/MediaSamples.h"

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

using TestSupport::ManagementFile;
using TestSupport::PutBe32;
using TestSupport::SourcePackets;

} // namespace SearchTest
