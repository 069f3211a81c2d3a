// Whole recoveries through the job on camcorder cards of every file system,
// made both by the test image builders and by mkfs.fat with mtools: live files
// come back byte for byte at their paths, deleted entries get their names
// rebuilt and, being contiguous, their bytes back too.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "RestoreJobTestSupport.h"
#include "support/MediaSamples.h"
#include "support/ExFatImageBuilder.h"
#include "support/FatImageBuilder.h"
#include "support/MtoolsHelpers.h"

namespace {

using namespace RestoreTest;
using TestSupport::FatType;

enum class Maker { Builder, Mtools };
enum class Volume { Fat12, Fat16, Fat32, ExFat };

struct CardKind {
    const char* name;
    Maker maker;
    Volume volume;
    uint32_t clusterSize;     // builder default geometry
    uint32_t fragmentCluster; // where the fragmented file goes, past the other data
};

// A file as the camera wrote it; `deleted` ones are removed after every write.
struct CardFile {
    std::string path;
    std::string bytes;
};

// What the card holds before deletions. The recovered tree must equal it.
std::vector<CardFile> CameraFiles() {
    return {
        {"DCIM/100CDPFP/IMGA0001.JPG", TestSupport::MediaShaped("DCIM/100CDPFP/IMGA0001.JPG", 50000, 1)},
        {"DCIM/100CDPFP/IMGA0002.JPG", TestSupport::MediaShaped("DCIM/100CDPFP/IMGA0002.JPG", 61000, 2)},
        {"DCIM/101CDPFP/IMGA0101.JPG", TestSupport::MediaShaped("DCIM/101CDPFP/IMGA0101.JPG", 40000, 3)},
        {"DCIM/101CDPFP/IMGA0012.JPG", TestSupport::MediaShaped("DCIM/101CDPFP/IMGA0012.JPG", 30001, 4)},
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", "INDX0200 index of clips"},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", "MOBJ0200 movie objects"},
        {"PRIVATE/AVCHD/BDMV/CLIPINF/00000.CPI", Pattern(1500, 5)},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", TestSupport::MediaShaped("PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", 192 * 1600, 6)},
        {"PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", TestSupport::MediaShaped("PRIVATE/AVCHD/BDMV/STREAM/00001.MTS", 192 * 1000, 7)},
    };
}

// Deleted afterwards: one photo, one whole folder of photos, one clip.
const std::vector<std::string> kDeletedFiles = {"DCIM/101CDPFP/IMGA0012.JPG", "PRIVATE/AVCHD/BDMV/STREAM/00001.MTS"};
const std::string kDeletedFolder = "DCIM/100CDPFP";
const std::string kFragmentedPath = "DCIM/101CDPFP/IMGA0102.JPG";

std::vector<uint32_t> FragmentClusters(const CardKind& kind) {
    return {kind.fragmentCluster + 10, kind.fragmentCluster + 11, kind.fragmentCluster};
}

class CardRecovery : public RestoreJobTest, public ::testing::WithParamInterface<CardKind> {
protected:
    // Writes the card and returns the files the recovery must give back.
    std::map<std::string, std::string> WriteCard(const fs::path& image) {
        std::map<std::string, std::string> expected;
        for (const CardFile& file : CameraFiles())
            expected[file.path] = file.bytes;
        const CardKind& kind = GetParam();
        if (kind.maker == Maker::Mtools) {
            WriteWithMtools(image);
            return expected;
        }
        const std::string fragment = Pattern(kind.clusterSize * 5 / 2, 8);
        expected[kFragmentedPath] = fragment;
        if (kind.volume == Volume::ExFat)
            WriteExFat(image, fragment);
        else
            WriteFat(image, fragment);
        return expected;
    }

private:
    void WriteFat(const fs::path& image, const std::string& fragment) {
        const FatType type = GetParam().volume == Volume::Fat12   ? FatType::Fat12
                             : GetParam().volume == Volume::Fat16 ? FatType::Fat16
                                                                  : FatType::Fat32;
        TestSupport::FatImageBuilder card(TestSupport::FatVolumeOptions::Defaults(type));
        for (const CardFile& file : CameraFiles())
            card.AddFile(file.path, file.bytes);
        TestSupport::FatEntryOptions scattered;
        scattered.clusters = FragmentClusters(GetParam());
        card.AddFile(kFragmentedPath, fragment, scattered);
        for (const std::string& path : kDeletedFiles)
            card.DeleteEntry(path);
        card.DeleteEntry(kDeletedFolder);
        card.Build().WriteTo(image);
    }

    void WriteExFat(const fs::path& image, const std::string& fragment) {
        TestSupport::ExFatImageBuilder card;
        for (const CardFile& file : CameraFiles())
            card.AddFile(file.path, file.bytes);
        TestSupport::ExFatEntryOptions scattered;
        scattered.clusters = FragmentClusters(GetParam());
        card.AddFile(kFragmentedPath, fragment, scattered);
        for (const std::string& path : kDeletedFiles)
            card.DeleteEntry(path);
        card.DeleteEntry(kDeletedFolder);
        card.WriteTo(image);
    }

    static void Run(const std::vector<std::string>& argv) {
        const TestSupport::CommandResult result = TestSupport::RunCommand(argv);
        ASSERT_EQ(result.exitCode, 0) << argv[2] << ": " << result.output;
    }

    void WriteWithMtools(const fs::path& image) {
        const Volume volume = GetParam().volume;
        const uint64_t bytes = volume == Volume::Fat12 ? 4u << 20 : volume == Volume::Fat16 ? 32u << 20 : 64u << 20;
        TestSupport::WriteFileBytes(image, "");
        fs::resize_file(image, bytes);
        const std::vector<std::string> format =
            volume == Volume::Fat12   ? std::vector<std::string>{"-F", "12"}
            : volume == Volume::Fat16 ? std::vector<std::string>{"-F", "16"}
                                      : std::vector<std::string>{"-F", "32", "-s", "1"};
        const TestSupport::CommandResult made = TestSupport::MkfsFat(image, format);
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const auto mtool = [&](const std::string& tool, std::vector<std::string> arguments) {
            std::vector<std::string> argv{"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", image.string()};
            argv.insert(argv.end(), arguments.begin(), arguments.end());
            Run(argv);
        };
        for (const char* folder : {"DCIM", "DCIM/100CDPFP", "DCIM/101CDPFP", "PRIVATE", "PRIVATE/AVCHD",
                                   "PRIVATE/AVCHD/BDMV", "PRIVATE/AVCHD/BDMV/CLIPINF", "PRIVATE/AVCHD/BDMV/STREAM"})
            mtool("mmd", {std::string("::") + folder});
        const fs::path staging = dir / "staging";
        fs::create_directories(staging);
        for (const CardFile& file : CameraFiles()) {
            const fs::path host = staging / fs::path(file.path).filename();
            TestSupport::WriteFileBytes(host, file.bytes);
            mtool("mcopy", {host.string(), "::" + file.path});
        }
        for (const std::string& path : kDeletedFiles)
            mtool("mdel", {"::" + path});
        mtool("mdeltree", {"::" + kDeletedFolder});
        fs::remove_all(staging);
    }
};

TEST_P(CardRecovery, LiveAndDeletedFilesComeBackAtTheirPaths) {
    if (GetParam().maker == Maker::Mtools && !TestSupport::HaveFatTools())
        GTEST_SKIP() << "mkfs.fat or mtools not installed";
    const fs::path image = dir / "card.img";
    const std::map<std::string, std::string> expected = WriteCard(image);
    if (HasFatalFailure())
        return;

    Restore::RestoreMain job(0, Wide(image));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    const fs::path out = Destination();
    job.SetDestination(Wide(out));
    ASSERT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
    Completion completion;
    ASSERT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
    EXPECT_EQ(job.Strategy()->TargetCount(), static_cast<int>(expected.size()));
    ASSERT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());

    const std::map<std::string, std::string> recovered = FilesUnder(out);
    for (const auto& [path, bytes] : expected) {
        const auto found = recovered.find(path);
        if (found == recovered.end()) {
            ADD_FAILURE() << path << " was not recovered";
            continue;
        }
        EXPECT_EQ(found->second.size(), bytes.size()) << path;
        EXPECT_TRUE(found->second == bytes) << path << " differs";
    }
    for (const auto& [path, bytes] : recovered)
        EXPECT_EQ(expected.count(path), 1u) << "unexpected file " << path;
    EXPECT_TRUE(fs::is_directory(out / "DCIM/100CDPFP")) << "the deleted folder's name was not rebuilt";
}

INSTANTIATE_TEST_SUITE_P(
    EveryFileSystem, CardRecovery,
    ::testing::Values(CardKind{"BuilderFat12", Maker::Builder, Volume::Fat12, 2048, 900},
                      CardKind{"BuilderFat16", Maker::Builder, Volume::Fat16, 2048, 900},
                      CardKind{"BuilderFat32", Maker::Builder, Volume::Fat32, 512, 100000},
                      CardKind{"BuilderExFat", Maker::Builder, Volume::ExFat, 4096, 7000},
                      CardKind{"MtoolsFat12", Maker::Mtools, Volume::Fat12, 0, 0},
                      CardKind{"MtoolsFat16", Maker::Mtools, Volume::Fat16, 0, 0},
                      CardKind{"MtoolsFat32", Maker::Mtools, Volume::Fat32, 0, 0}),
    [](const ::testing::TestParamInfo<CardKind>& info) { return std::string(info.param.name); });

} // namespace
