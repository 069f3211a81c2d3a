// A whole card through the real binary: as an image and as a read-only loop
// block device (where this machine lets the test make one), `list` names its
// partitions and `recover` gives back what the bare volume gives.
#include <gtest/gtest.h>

#include <unistd.h>

#include "CliTestSupport.h"
#include "support/MediaSamples.h"
#include "support/MtoolsHelpers.h"
#include "support/PartitionedCard.h"
#include "support/SmallCards.h"
#include "support/TempDir.h"

namespace {

using namespace CliTest;
using namespace TestSupport;

// A loop device over `image`, read-only, for as long as this lives.
class ReadOnlyLoop {
public:
    explicit ReadOnlyLoop(const fs::path& image) {
        const CommandResult made = RunCommand({"losetup", "-r", "-f", "--show", image.string()});
        if (made.exitCode == 0 && made.output.rfind("/dev/loop", 0) == 0)
            device_ = made.output.substr(0, made.output.find('\n'));
    }
    ~ReadOnlyLoop() {
        if (!device_.empty())
            RunCommand({"losetup", "-d", device_});
    }
    ReadOnlyLoop(const ReadOnlyLoop&) = delete;
    ReadOnlyLoop& operator=(const ReadOnlyLoop&) = delete;
    const std::string& Device() const { return device_; }

private:
    std::string device_;
};

TEST(WholeCardSources, ImageAndLoopDeviceGiveWhatTheVolumeGives) {
    TestSupport::TempDir dir("kalvory-wholecard");
    const SmallCard volume = BuildSmallCard(
        CardSystem::Fat16, {{"DCIM/100CDPFP/IMGA0001.JPG", std::string(9000, 'p')},
                            {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", SourcePackets(64)}});
    const std::string bytes(volume.bytes.begin(), volume.bytes.end());
    WriteFileBytes(dir / "volume.img", bytes);
    WriteFileBytes(dir / "card.img", BuildWholeCard(TableKind::Mbr, 8192 + bytes.size() / 512 + 64, {{8192, bytes, 0x06}}));
    ASSERT_EQ(RunKalvory({"recover", (dir / "volume.img").string(), (dir / "bare").string()}, dir.Path()).exitCode, 0);
    const auto expected = RecoveredFilesUnder(dir / "bare");

    const Outcome listed = RunKalvory({"list", (dir / "card.img").string()}, dir.Path());
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_NE(listed.out.find("Partition table: MBR\n   1  FAT16"), std::string::npos) << listed.out;
    ASSERT_EQ(RunKalvory({"recover", (dir / "card.img").string(), (dir / "whole").string()}, dir.Path()).exitCode, 0);
    EXPECT_TRUE(RecoveredFilesUnder(dir / "whole") == expected);

    ReadOnlyLoop loop(dir / "card.img");
    if (loop.Device().empty())
        GTEST_SKIP() << "no loop device can be made here";
    const Outcome fromDevice = RunKalvory({"recover", loop.Device(), (dir / "device").string()}, dir.Path());
    EXPECT_EQ(fromDevice.exitCode, 0) << fromDevice.err;
    EXPECT_TRUE(RecoveredFilesUnder(dir / "device") == expected);
}

// A still left between the table and the volume: the listing gives its card
// offset and its (negative) volume offset, the recovery's summary counts it
// among the files found outside the volume, and the directory mode reads none of it.
TEST(WholeCardSources, TheListingAndSummaryTellWhereOnTheCard) {
    TestSupport::TempDir dir("kalvory-wholecard");
    const SmallCard volume = BuildSmallCard(CardSystem::Fat16, {{"DCIM/100CDPFP/IMGA0001.JPG", std::string(9000, 'p')}});
    const std::string bytes(volume.bytes.begin(), volume.bytes.end());
    std::string card = BuildWholeCard(TableKind::Mbr, 8192 + bytes.size() / 512 + 64, {{8192, bytes, 0x06}});
    const std::string still = ExifJpeg(30000, 5);
    const uint64_t stillAt = 1000 * 512;
    card.replace(stillAt, still.size(), still);
    WriteFileBytes(dir / "card.img", card);

    const Outcome listed = RunKalvory({"list", "--json", (dir / "card.img").string()}, dir.Path());
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    const std::string extent = "{\"start\": " + std::to_string(static_cast<int64_t>(stillAt) - 8192 * 512) +
                               ", \"length\": " + std::to_string(still.size()) +
                               ", \"cardStart\": " + std::to_string(stillAt) + "}";
    EXPECT_NE(listed.out.find(extent), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("\"gaps_scanned\": [{\"start\": 0, \"length\": 4194304}"), std::string::npos);
    // A map that marks one of its sectors bad: the still is damaged there.
    const uint64_t bad = stillAt + 1024;
    WriteFileBytes(dir / "card.map", "0 +\n0 " + std::to_string(bad) + " +\n" + std::to_string(bad) + " 512 -\n" +
                                         std::to_string(bad + 512) + " " + std::to_string(card.size() - bad - 512) + " +\n");
    const Outcome mapped =
        RunKalvory({"list", "--json", "--map", (dir / "card.map").string(), (dir / "card.img").string()}, dir.Path());
    EXPECT_EQ(mapped.exitCode, 0) << mapped.err;
    EXPECT_NE(mapped.out.find(extent + "], \"pathShortened\": false, \"renamed\": false, "
                                       "\"damaged\": [{\"start\": 1024, \"length\": 512}]"),
              std::string::npos)
        << mapped.out;

    const Outcome recovered = RunKalvory({"recover", (dir / "card.img").string(), (dir / "out").string()}, dir.Path());
    EXPECT_EQ(recovered.exitCode, 0) << recovered.err;
    EXPECT_NE(recovered.out.find("outside its volume were scanned too: 1 files were found there"), std::string::npos)
        << recovered.out;
    int copies = 0;
    for (const auto& [path, data] : RecoveredFilesUnder(dir / "out"))
        copies += data == still ? 1 : 0;
    EXPECT_EQ(copies, 1);

    const Outcome directory =
        RunKalvory({"recover", "--mode", "directory", (dir / "card.img").string(), (dir / "dir").string()}, dir.Path());
    EXPECT_EQ(directory.exitCode, 0) << directory.err;
    EXPECT_EQ(directory.out.find("outside its volume"), std::string::npos) << directory.out;
}

} // namespace
