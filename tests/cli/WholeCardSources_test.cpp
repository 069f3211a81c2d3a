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

} // namespace
