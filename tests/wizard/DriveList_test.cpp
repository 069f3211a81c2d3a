// The drive list parser on a fake sysfs tree with fake udev properties, and
// which udev events on the card's device count as a change of the source.
#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include "DriveList.h"
#include "SourceWatch.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// A block device in the fake tree: where its sysfs node sits and its attributes.
struct FakeDevice {
    std::string node;                              // under devices/, the kernel name last
    std::map<std::string, std::string> attributes; // file (relative to the node) -> text
};

class FakeSysfs {
public:
    void Add(const FakeDevice& device) {
        const fs::path node = dir / "devices" / device.node;
        fs::create_directories(node);
        for (const auto& [file, text] : device.attributes) {
            fs::create_directories((node / file).parent_path());
            TestSupport::WriteFileBytes(node / file, text + "\n");
        }
        fs::create_directories(dir / "class/block");
        fs::create_directory_symlink(node, dir / "class/block" / node.filename());
    }
    DriveProbe Probe(std::map<std::string, UdevProperties> udev) const {
        DriveProbe probe;
        probe.sysClassBlock = dir / "class/block";
        probe.udevProperties = [udev](const std::string& name) {
            const auto found = udev.find(name);
            return found == udev.end() ? UdevProperties{} : found->second;
        };
        return probe;
    }

private:
    TestSupport::TempDir dir{"kalvory-sysfs"};
};

TEST(DriveList, ListsWholeCardsAndTheirPartitionsLabelledOnly) {
    FakeSysfs sys;
    const std::string usb = "pci0000:00/usb1/1-1/host6/target6:0:0/6:0:0:0/block/";
    sys.Add({"platform/mmc0/mmc0:0001/block/mmcblk0", {{"removable", "0"}, {"size", "31116288"}, {"device/type", "SD"}}});
    sys.Add({"platform/mmc0/mmc0:0001/block/mmcblk0/mmcblk0p1", {{"partition", "1"}, {"size", "31108096"}}});
    sys.Add({"platform/mmc0/mmc0:0001/block/mmcblk0boot0", {{"removable", "0"}, {"size", "8192"}}});
    sys.Add({"platform/mmc1/mmc1:0001/block/mmcblk1", {{"removable", "0"}, {"size", "61071360"}, {"device/type", "MMC"}}});
    sys.Add({usb + "sdb", {{"removable", "1"}, {"size", "62333952"}, {"device/vendor", "Generic"}}});
    sys.Add({usb + "sdb/sdb1", {{"partition", "1"}, {"size", "204800"}}});
    sys.Add({usb + "sdb/sdb2", {{"partition", "2"}, {"size", "62126080"}}});
    sys.Add({usb + "sdc", {{"removable", "1"}, {"size", "7744512"}}});
    sys.Add({usb + "sdf", {{"removable", "1"}, {"size", "7744512"}, {"device/vendor", "Generic "},
                            {"device/model", "STORAGE DEVICE  "}}});
    sys.Add({usb + "sde", {{"removable", "1"}, {"size", "0"}}});
    sys.Add({usb + "sdd", {{"removable", "1"}, {"size", "2880"}}});
    sys.Add({"platform/floppy.0/block/fd0", {{"removable", "1"}, {"size", "2880"}}});
    sys.Add({"pci0000:00/ata1/block/sda", {{"removable", "0"}, {"size", "500118192"}}});
    sys.Add({"pci0000:00/ata2/block/sr0", {{"removable", "1"}, {"size", "2097151"}}});

    const std::vector<DriveItem> drives = ListCardDrives(sys.Probe({
        {"mmcblk0", {{"ID_NAME", "SD16G"}}},
        {"sdb", {{"ID_VENDOR", "Generic"}, {"ID_VENDOR_ENC", "Generic\\x20"}, {"ID_MODEL_ENC", "Card\\x20Reader"}}},
        {"sdd", {{"ID_DRIVE_FLOPPY", "1"}, {"ID_VENDOR", "TEAC"}}},
    }));

    constexpr DriveKind kWhole = DriveKind::WholeCard;
    constexpr DriveKind kPart = DriveKind::Partition;
    EXPECT_EQ(drives, (std::vector<DriveItem>{
                          {"/dev/mmcblk0", "SD16G", kWhole, 0},
                          {"/dev/mmcblk0p1", "SD16G", kPart, 1},
                          {"/dev/sdb", "Generic Card Reader", kWhole, 0}, // udev wins over sysfs
                          {"/dev/sdb1", "Generic Card Reader", kPart, 1},
                          {"/dev/sdb2", "Generic Card Reader", kPart, 2},
                          {"/dev/sdc", "", kWhole, 0},                      // nothing names it: still listed
                          {"/dev/sdf", "Generic STORAGE DEVICE", kWhole, 0}, // sysfs when udev has nothing
                      }));
    std::vector<std::string> texts;
    for (const DriveItem& drive : drives)
        texts.push_back(drive.Text());
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "/dev/mmcblk0 SD16G (whole card)",
                         "/dev/mmcblk0p1 SD16G (partition 1)",
                         "/dev/sdb Generic Card Reader (whole card)",
                         "/dev/sdb1 Generic Card Reader (partition 1)",
                         "/dev/sdb2 Generic Card Reader (partition 2)",
                         "/dev/sdc (whole card)",
                         "/dev/sdf Generic STORAGE DEVICE (whole card)",
                     }));
}

TEST(DeviceWatch, OnlyRemovalOrMediaChangeOfTheCardCounts) {
    const dev_t partition = makedev(8, 17);
    const dev_t disk = makedev(8, 16);
    const dev_t other = makedev(8, 33);
    struct Case {
        const char* action;
        dev_t device;
        bool mediaChange;
        bool concerns;
    } cases[] = {
        {"remove", partition, false, true}, {"remove", disk, false, true},   {"change", disk, true, true},
        {"change", partition, false, false}, {"remove", other, false, false}, {"add", partition, false, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(DeviceEventConcernsSource(c.action, c.device, c.mediaChange, partition, disk), c.concerns)
            << c.action << " " << major(c.device) << ":" << minor(c.device);
}

} // namespace
