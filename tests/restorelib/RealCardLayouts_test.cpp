// Layouts real cards have and drawings of a file system do not: folders that
// grew cluster by cluster between the files written into them, folders whose
// chains are gone or loop, and deleted clips written into the holes between
// live pictures. Every card goes through a whole recovery.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "RestoreJobTestSupport.h"
#include "support/MediaSamples.h"
#include "support/ExFatImageBuilder.h"
#include "support/FatImageBuilder.h"
#include "support/MtoolsHelpers.h"

// The builders' option structs are filled with designated initializers.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using namespace RestoreTest;
using TestSupport::FatType;

enum class Volume { Fat12, Fat16, Fat32, ExFat };

struct LayoutKind {
    const char* name;
    Volume volume;
};

std::string Picture(int number) {
    char name[32];
    std::snprintf(name, sizeof name, "IMGA%04d.JPG", number);
    return name;
}

// The three folders of the layout and what a recovery must give back of each.
struct FolderPlan {
    std::string path;
    int pictures = 0;     // written into it
    int expected = 0;     // listed after the recovery
    int firstNumber = 0;  // of its pictures
};

// One card per file system, written by the project's builders:
// - DCIM/100CDPFP: 1000 pictures, its clusters interleaved with theirs;
// - DCIM/101CDPFP: deleted, two clusters apart: read as one run from its first
//   cluster, so only what that cluster holds comes back;
// - DCIM/102CDPFP: live, three clusters, its chain looping back after the
//   second: what the first two clusters hold comes back;
// - DCIM/103CDPFP: live, two consecutive clusters whose table entry says
//   nothing (0): read as one run, so both clusters come back.
class FolderChainCard {
public:
    explicit FolderChainCard(Volume volume) : volume_(volume) {}

    std::vector<FolderPlan> Write(const fs::path& image) {
        return volume_ == Volume::ExFat ? WriteExFat(image) : WriteFat(image);
    }
    const std::map<std::string, std::string>& Contents() const { return contents_; }

private:
    // A picture a little under one cluster, different for every number.
    template <class Builder>
    void AddFile(Builder& card, const std::string& folder, int number, uint32_t clusterSize) {
        const std::string path = folder + "/" + Picture(number);
        contents_[path] = TestSupport::MediaShaped(path, clusterSize - 1 - number % 7, number);
        card.AddFile(path, contents_.at(path));
    }

    std::vector<FolderPlan> WriteFat(const fs::path& image) {
        auto options = TestSupport::FatVolumeOptions::Defaults(volume_ == Volume::Fat12   ? FatType::Fat12
                                                               : volume_ == Volume::Fat16 ? FatType::Fat16
                                                                                          : FatType::Fat32);
        if (volume_ == Volume::Fat12) { // 4000 clusters of 512 bytes: room for 1000 pictures
            options.sectorsPerCluster = 1;
            options.totalSectors = 4080;
        }
        const uint32_t cs = options.bytesPerSector * options.sectorsPerCluster;
        const uint32_t slotsPerCluster = cs / 32;
        TestSupport::FatImageBuilder card(options);
        card.AddFolder("DCIM");

        const uint32_t folderClusters = (1002 * 32 + cs - 1) / cs;
        TestSupport::FatEntryOptions spread;
        for (uint32_t i = 0; i < folderClusters; ++i)
            spread.clusters.push_back(50 + i * (1000 / folderClusters));
        card.AddFolder("DCIM/100CDPFP", spread);
        for (int n = 1; n <= 1000; ++n)
            AddFile(card, "DCIM/100CDPFP", n, cs);

        const uint32_t tail = 2100;
        const int deletedCount = static_cast<int>(slotsPerCluster) + 10;
        card.AddFolder("DCIM/101CDPFP", {.clusters = {tail, tail + 2}});
        for (int n = 1; n <= deletedCount; ++n)
            AddFile(card, "DCIM/101CDPFP", 2000 + n, cs);
        card.DeleteEntry("DCIM/101CDPFP");

        const int loopedCount = static_cast<int>(slotsPerCluster * 5 / 2) - 2;
        card.AddFolder("DCIM/102CDPFP", {.clusters = {tail + 10, tail + 12, tail + 14}});
        for (int n = 1; n <= loopedCount; ++n)
            AddFile(card, "DCIM/102CDPFP", 3000 + n, cs);

        const int brokenCount = static_cast<int>(2 * slotsPerCluster) - 7;
        card.AddFolder("DCIM/103CDPFP", {.clusters = {tail + 20, tail + 21}});
        for (int n = 1; n <= brokenCount; ++n)
            AddFile(card, "DCIM/103CDPFP", 4000 + n, cs);

        TestSupport::FatImage built = card.Build();
        EXPECT_GT(built.Entry("DCIM/100CDPFP").extents.size(), 1u) << "the folder must interleave with its pictures";
        built.SetFatEntry(tail + 12, tail + 10);
        built.SetFatEntry(tail + 20, 0);
        built.WriteTo(image);
        return {{"DCIM/100CDPFP", 1000, 1000, 1},
                {"DCIM/101CDPFP", deletedCount, static_cast<int>(slotsPerCluster) - 2, 2001},
                {"DCIM/102CDPFP", loopedCount, static_cast<int>(2 * slotsPerCluster) - 2, 3001},
                {"DCIM/103CDPFP", brokenCount, brokenCount, 4001}};
    }

    std::vector<FolderPlan> WriteExFat(const fs::path& image) {
        TestSupport::ExFatImageBuilder card;
        const uint32_t cs = card.ClusterSize();
        const int setsPerCluster = static_cast<int>(cs / 96); // File, Stream, one File Name entry
        card.AddFolder("DCIM/100CDPFP");
        for (int n = 1; n <= 1000; ++n)
            AddFile(card, "DCIM/100CDPFP", n, cs);
        EXPECT_GT(card.Describe("DCIM/100CDPFP").extents.size(), 1u) << "the folder must interleave with its pictures";

        const uint32_t tail = 3000;
        const int deletedCount = setsPerCluster + 10;
        card.AddFolder("DCIM/101CDPFP", {.clusters = {tail, tail + 2}});
        for (int n = 1; n <= deletedCount; ++n)
            AddFile(card, "DCIM/101CDPFP", 2000 + n, cs);
        card.DeleteEntry("DCIM/101CDPFP");

        const int loopedCount = setsPerCluster * 5 / 2;
        card.AddFolder("DCIM/102CDPFP", {.clusters = {tail + 10, tail + 12, tail + 14}});
        for (int n = 1; n <= loopedCount; ++n)
            AddFile(card, "DCIM/102CDPFP", 3000 + n, cs);
        const int brokenCount = 2 * setsPerCluster - 5;
        card.AddFolder("DCIM/103CDPFP", {.clusters = {tail + 20, tail + 21}});
        for (int n = 1; n <= brokenCount; ++n)
            AddFile(card, "DCIM/103CDPFP", 4000 + n, cs);

        card.WriteTo(image);
        CheckWithFsck(image);
        card.SetFatEntry(tail + 12, tail + 10);
        card.SetFatEntry(tail + 20, 0);
        card.WriteTo(image);
        return {{"DCIM/100CDPFP", 1000, 1000, 1},
                {"DCIM/101CDPFP", deletedCount, setsPerCluster, 2001},
                {"DCIM/102CDPFP", loopedCount, static_cast<int>(2 * cs / 96), 3001},
                {"DCIM/103CDPFP", brokenCount, brokenCount, 4001}};
    }

    // The interleaved folders are what exFAT's own checker accepts.
    static void CheckWithFsck(const fs::path& image) {
        const auto fsck = TestSupport::FindTool("fsck.exfat");
        if (!fsck)
            return;
        const auto check = TestSupport::RunCommand({*fsck, "-n", image.string()});
        EXPECT_EQ(check.exitCode, 0) << check.output;
    }

    Volume volume_;
    std::map<std::string, std::string> contents_;
};

class RealCardLayouts : public RestoreJobTest, public ::testing::WithParamInterface<LayoutKind> {
protected:
    // Verifies and saves the image into a fresh folder; returns what landed there.
    std::map<std::string, std::string> Recover(const fs::path& image) {
        Restore::RestoreMain job(0, Wide(image));
        EXPECT_EQ(job.ResultState(), 0) << AAA::ToUtf8(job.ErrorText());
        const fs::path out = Destination();
        job.SetDestination(Wide(out));
        Completion completion;
        EXPECT_EQ(VerifyNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        EXPECT_EQ(SaveNow(job, completion), 0) << AAA::ToUtf8(job.ErrorText());
        return FilesUnder(out);
    }
};

TEST_P(RealCardLayouts, FoldersFollowTheirChainsAndDeletedOnesKeepTheirFirstRun) {
    const fs::path image = dir / "card.img";
    FolderChainCard card(GetParam().volume);
    const std::vector<FolderPlan> folders = card.Write(image);
    if (HasFailure())
        return;
    const std::map<std::string, std::string> recovered = Recover(image);

    for (const FolderPlan& folder : folders) {
        int listed = 0;
        for (const auto& [path, bytes] : recovered)
            listed += path.rfind(folder.path + "/", 0) == 0 ? 1 : 0;
        EXPECT_EQ(listed, folder.expected) << folder.path;
        for (int n = folder.firstNumber; n < folder.firstNumber + folder.expected; ++n) {
            const std::string path = folder.path + "/" + Picture(n);
            const auto found = recovered.find(path);
            ASSERT_NE(found, recovered.end()) << path;
            EXPECT_TRUE(found->second == card.Contents().at(path)) << path << " differs";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFileSystem, RealCardLayouts,
                         ::testing::Values(LayoutKind{"Fat12", Volume::Fat12}, LayoutKind{"Fat16", Volume::Fat16},
                                           LayoutKind{"Fat32", Volume::Fat32}, LayoutKind{"ExFat", Volume::ExFat}),
                         [](const auto& info) { return std::string(info.param.name); });

// A camera's stills, every second one deleted, then a clip written into the
// holes and past them, then the clip deleted: its data is the holes in order.
class ClipInHolesCard {
public:
    static constexpr int kStills = 10;
    const std::string kClipPath = "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS";

    // Writes the card; returns the clip's bytes.
    std::string Write(Volume volume, const fs::path& image, const fs::path& scratch) {
        return volume == Volume::ExFat ? WriteExFat(image) : WriteWithMtools(volume, image, scratch);
    }

private:
    static std::string Still(int number) { return "DCIM/100CDPFP/" + Picture(number); }

    std::string WriteExFat(const fs::path& image) {
        TestSupport::ExFatImageBuilder card;
        const uint32_t cs = card.ClusterSize();
        // DCIM first: the builder renders in tree order, so the clip's bytes
        // land over the deleted stills', as they did on the card.
        card.AddFolder("DCIM/100CDPFP");
        card.AddFolder("PRIVATE/AVCHD/BDMV/STREAM");
        for (int n = 1; n <= kStills; ++n)
            card.AddFile(Still(n), TestSupport::ExifJpeg(3 * cs, n));
        TestSupport::ExFatEntryOptions holes;
        for (int n = 2; n <= kStills; n += 2) {
            const auto clusters = card.Describe(Still(n)).clusters;
            holes.clusters.insert(holes.clusters.end(), clusters.begin(), clusters.end());
            card.DeleteEntry(Still(n));
        }
        for (uint32_t extra = 1; extra <= 6; ++extra)
            holes.clusters.push_back(holes.clusters.back() + 1);
        const std::string clip = TestSupport::StreamBytes(20 * cs + cs / 2, 99);
        card.AddFile(kClipPath, clip, holes);
        card.DeleteEntry(kClipPath, /*clearFatChain=*/true);
        card.WriteTo(image);
        return clip;
    }

    std::string WriteWithMtools(Volume volume, const fs::path& image, const fs::path& scratch) {
        const uint64_t bytes = volume == Volume::Fat12 ? 4u << 20 : volume == Volume::Fat16 ? 32u << 20 : 64u << 20;
        TestSupport::WriteFileBytes(image, "");
        fs::resize_file(image, bytes);
        const std::vector<std::string> format = volume == Volume::Fat12   ? std::vector<std::string>{"-F", "12"}
                                                : volume == Volume::Fat16 ? std::vector<std::string>{"-F", "16"}
                                                                          : std::vector<std::string>{"-F", "32", "-s", "1"};
        const auto made = TestSupport::MkfsFat(image, format);
        EXPECT_EQ(made.exitCode, 0) << made.output;
        const std::string boot = TestSupport::ReadFileBytes(image).substr(0, 16);
        const uint32_t cs = (static_cast<uint8_t>(boot[11]) | static_cast<uint8_t>(boot[12]) << 8) *
                            static_cast<uint8_t>(boot[13]);
        const auto mtool = [&](const std::string& tool, std::vector<std::string> arguments) {
            std::vector<std::string> argv{"env", "MTOOLS_SKIP_CHECK=1", tool, "-i", image.string()};
            argv.insert(argv.end(), arguments.begin(), arguments.end());
            const auto result = TestSupport::RunCommand(argv);
            EXPECT_EQ(result.exitCode, 0) << tool << ": " << result.output;
        };
        const auto put = [&](const std::string& path, const std::string& data) {
            const fs::path host = scratch / fs::path(path).filename();
            TestSupport::WriteFileBytes(host, data);
            mtool("mcopy", {host.string(), "::" + path});
        };
        for (const char* folder : {"DCIM", "DCIM/100CDPFP", "PRIVATE", "PRIVATE/AVCHD", "PRIVATE/AVCHD/BDMV",
                                   "PRIVATE/AVCHD/BDMV/STREAM"})
            mtool("mmd", {std::string("::") + folder});
        for (int n = 1; n <= kStills; ++n)
            put(Still(n), TestSupport::ExifJpeg(3 * cs, n));
        for (int n = 2; n <= kStills; n += 2)
            mtool("mdel", {"::" + Still(n)});
        ForgetFreeHint(image);
        const std::string clip = TestSupport::StreamBytes(20 * cs + cs / 2, 99);
        put(kClipPath, clip);
        mtool("mdel", {"::" + kClipPath});
        return clip;
    }

    // FAT32 keeps a next-free hint; without it the clip starts in the first
    // hole, as a camera filling the card from its start writes it.
    static void ForgetFreeHint(const fs::path& image) {
        std::string bytes = TestSupport::ReadFileBytes(image);
        if (bytes.substr(512, 4) == "RRaA")
            bytes.replace(512 + 492, 4, std::string(4, '\xFF'));
        TestSupport::WriteFileBytes(image, bytes);
    }
};

TEST_P(RealCardLayouts, DeletedClipInTheHolesBetweenLivePicturesComesBackWhole) {
    if (GetParam().volume != Volume::ExFat && !TestSupport::HaveFatTools())
        GTEST_SKIP() << "mkfs.fat or mtools not installed";
    const fs::path image = dir / "card.img";
    const fs::path scratch = dir / "scratch";
    fs::create_directories(scratch);
    ClipInHolesCard card;
    const std::string clip = card.Write(GetParam().volume, image, scratch);
    if (HasFailure())
        return;
    const std::map<std::string, std::string> recovered = Recover(image);
    const auto found = recovered.find(card.kClipPath);
    ASSERT_NE(found, recovered.end());
    EXPECT_EQ(found->second.size(), clip.size());
    EXPECT_TRUE(found->second == clip) << "the clip was read across the live pictures";
    for (int n = 1; n <= ClipInHolesCard::kStills; n += 2)
        EXPECT_EQ(recovered.count("DCIM/100CDPFP/" + Picture(n)), 1u) << n;
}

} // namespace
