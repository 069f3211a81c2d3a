// Cross-check against volumes nobody here wrote: mkfs.fat formats, mtools
// fills, fragments and deletes; the readers must list exactly what mtools
// stored and every extent list must give back the bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

#include "FAT1216FAT32TestHelpers.h"
#include "FSSpecFAT16.h"
#include "FSSpecFAT32.h"
#include "FSAccessLib/TreeTestHelpers.h"
#include "support/MtoolsHelpers.h"

using namespace FSAccessLib;
using namespace FatReaderTest;
using TestSupport::CommandResult;
using TestSupport::FindTool;
using TestSupport::RunCommand;

namespace {

struct Format {
    const char* name;
    std::vector<std::string> mkfsOptions;
    int sizeKiB;
    uint32_t clusterSize;
};

class FatMtoolsCrossCheck : public ::testing::TestWithParam<Format> {
protected:
    void SetUp() override {
        if (!TestSupport::HaveFatTools() || !FindTool("mdel") || !FindTool("mmd"))
            GTEST_SKIP() << "mtools and dosfstools are needed";
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
        image_ = dir_ / "card.img";
        std::vector<std::string> argv{*FindTool("mkfs.fat"), "-C", "-S", "512"};
        argv.insert(argv.end(), GetParam().mkfsOptions.begin(), GetParam().mkfsOptions.end());
        argv.push_back(image_.string());
        argv.push_back(std::to_string(GetParam().sizeKiB));
        const CommandResult made = RunCommand(argv);
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }

    void Mtools(const std::string& tool, std::vector<std::string> arguments) {
        std::vector<std::string> argv{*FindTool(tool), "-i", image_.string()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const CommandResult result = RunCommand(argv);
        ASSERT_EQ(result.exitCode, 0) << tool << ": " << result.output;
    }
    // Copies `clusters` clusters' worth of fresh bytes (less a tail) to `path`.
    void Put(const std::string& path, double clusters, uint32_t seed) {
        const Bytes data = Pattern(static_cast<size_t>(clusters * GetParam().clusterSize), seed);
        const auto local = dir_ / ("f" + std::to_string(seed));
        TestSupport::WriteFileBytes(local, std::string(data.begin(), data.end()));
        Mtools("mcopy", {local.string(), "::/" + path});
        written_[path] = data;
    }
    // Forget mtools' next-free hint (FAT32 FSInfo), so that the next file
    // starts at the first gap as a camera would fill it.
    void ForgetFreeHint() {
        std::string bytes = TestSupport::ReadFileBytes(image_);
        if (bytes.substr(512, 4) == "RRaA")
            bytes.replace(512 + 492, 4, std::string(4, '\xFF'));
        TestSupport::WriteFileBytes(image_, bytes);
    }

    std::unique_ptr<FSAccessBase> OpenReader() {
        std::unique_ptr<FSAccessBase> reader = std::make_unique<FAT1216::FSAccessFAT1216>(PathOf(image_));
        if (reader->Open())
            return reader;
        reader = std::make_unique<FAT32::FSAccessFAT32>(PathOf(image_));
        EXPECT_TRUE(reader->Open());
        return reader;
    }

    std::set<std::string> MtoolsListing() {
        const CommandResult listing = TestSupport::MdirRecursive(image_);
        EXPECT_EQ(listing.exitCode, 0) << listing.output;
        std::set<std::string> paths;
        std::istringstream lines(listing.output);
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("::/", 0) != 0)
                continue;
            line = line.substr(3);
            if (!line.empty() && line.back() == '/')
                line.pop_back();
            paths.insert(line);
        }
        return paths;
    }

    TestSupport::TempDir dir_{"fat-mtools"};
    FSAccessTest::ProgressReset progressReset_;
    std::filesystem::path image_;
    std::map<std::string, Bytes> written_;
};

TEST_P(FatMtoolsCrossCheck, TreeAndBytesMatchWhatMtoolsStored) {
    Mtools("mmd", {"::/DCIM"});
    Mtools("mmd", {"::/DCIM/100CDPFP"});
    Mtools("mmd", {"::/AVCHD"});
    for (int i = 0; i < 6; ++i)
        Put("DCIM/100CDPFP/IMGA000" + std::to_string(i) + ".JPG", 2.5, 10 + i);
    Put("AVCHD/00000.MTS", 1.2, 30);
    Mtools("mdel", {"::/DCIM/100CDPFP/IMGA0001.JPG"});
    Mtools("mdel", {"::/DCIM/100CDPFP/IMGA0003.JPG"});
    written_.erase("DCIM/100CDPFP/IMGA0001.JPG");
    written_.erase("DCIM/100CDPFP/IMGA0003.JPG");
    ForgetFreeHint();
    Put("AVCHD/00001.MTS", 9.5, 31);  // fills both gaps, then runs on
    Put("DCIM/100CDPFP/MOV0001.MOD", 4.3, 32);
    const Bytes deletedBytes = written_.at("DCIM/100CDPFP/MOV0001.MOD");
    Mtools("mdel", {"::/DCIM/100CDPFP/MOV0001.MOD"});
    written_.erase("DCIM/100CDPFP/MOV0001.MOD");

    const std::string volume = TestSupport::ReadFileBytes(image_);
    const Bytes volumeBytes(volume.begin(), volume.end());
    auto reader = OpenReader();
    ASSERT_TRUE(reader);
    reader->ReadAllocationTable();
    reader->ReadRootDirectory();
    DirEntry root;
    const int files = reader->BuildTree(root);

    std::set<std::string> live;
    std::vector<std::string> deleted;
    size_t fragmented = 0;
    for (const auto& [path, entry] : Flatten(root)) {
        if (path.find('!') != std::string::npos) {
            deleted.push_back(path);
            continue;
        }
        live.insert(path);
        if (entry->isDirectory)
            continue;
        EXPECT_FALSE(entry->chainBroken) << path;
        ASSERT_TRUE(written_.count(path)) << path;
        EXPECT_EQ(DataOf(volumeBytes, *entry), written_.at(path)) << path;
        fragmented += entry->chain.size() > 1 ? 1 : 0;
    }
    EXPECT_EQ(live, MtoolsListing());
    EXPECT_GE(fragmented, 1u) << "the refill of the gaps must have fragmented a file";
    EXPECT_EQ(files, static_cast<int>(written_.size() + deleted.size()));

    const auto tree = Flatten(root);
    ASSERT_TRUE(tree.count("DCIM/100CDPFP/!OV0001.MOD"));
    const DirEntry& mov = *tree.at("DCIM/100CDPFP/!OV0001.MOD");
    EXPECT_TRUE(mov.deleted);
    EXPECT_TRUE(mov.chain.empty());
    EXPECT_EQ(DataOf(volumeBytes, mov), deletedBytes) << "deleted contiguous data is read back whole";
}

TEST_P(FatMtoolsCrossCheck, FoldersOfHundredsOfLongNamesInterleavedWithTheirFiles) {
    // One mcopy per folder, as a camera fills it: every few files the folder
    // takes its next cluster after the files written so far.
    const std::pair<const char*, int> folders[] = {{"DCIM/100CDPFP", 300}, {"DCIM/101CDPFP", 200}};
    Mtools("mmd", {"::/DCIM"});
    for (const auto& [folder, count] : folders) {
        Mtools("mmd", {std::string("::/") + folder});
        const auto staging = dir_ / folder;
        std::filesystem::create_directories(staging);
        std::vector<std::string> arguments;
        for (int i = 0; i < count; ++i) {
            const std::string name = "picture of the day " + std::to_string(1000 + i) + ".jpg";
            const Bytes data = Pattern(GetParam().clusterSize - static_cast<size_t>(i % 5), 100 + i + 1000 * count);
            TestSupport::WriteFileBytes(staging / name, std::string(data.begin(), data.end()));
            arguments.push_back((staging / name).string());
            written_[std::string(folder) + "/" + name] = data;
        }
        arguments.push_back(std::string("::/") + folder + "/");
        Mtools("mcopy", arguments);
    }

    const std::string volume = TestSupport::ReadFileBytes(image_);
    const Bytes volumeBytes(volume.begin(), volume.end());
    auto reader = OpenReader();
    ASSERT_TRUE(reader);
    reader->ReadAllocationTable();
    reader->ReadRootDirectory();
    DirEntry root;
    EXPECT_EQ(reader->BuildTree(root), 500);

    // The reader lists short names; mdir -b lists long ones. Match through the bytes.
    const auto text = [](const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); };
    std::map<std::string, std::string> byContent;
    for (const auto& [path, data] : written_)
        byContent[text(data)] = path;
    std::set<std::string> matched;
    for (const auto& [path, entry] : Flatten(root)) {
        if (entry->isDirectory)
            continue;
        const auto found = byContent.find(text(DataOf(volumeBytes, *entry)));
        ASSERT_NE(found, byContent.end()) << path << " holds bytes no file was written with";
        EXPECT_EQ(path.substr(0, 14), found->second.substr(0, 14)) << "in the wrong folder: " << path;
        matched.insert(found->second);
    }
    EXPECT_EQ(matched.size(), written_.size());
    std::set<std::string> listed = MtoolsListing();
    listed.erase("DCIM");
    for (const auto& [folder, count] : folders)
        listed.erase(folder);
    EXPECT_EQ(listed, matched);
}

INSTANTIATE_TEST_SUITE_P(FATMtools, FatMtoolsCrossCheck,
                         ::testing::Values(Format{"Fat12", {"-F", "12", "-r", "512", "-s", "4"}, 2048, 2048},
                                           Format{"Fat16", {"-F", "16", "-r", "512", "-s", "4"}, 32768, 2048},
                                           Format{"Fat32", {"-F", "32", "-s", "1"}, 65536, 512}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
