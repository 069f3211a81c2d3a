#pragma once
// The drives a memory card can be in: SD/MMC slots (mmcblk*) and removable
// disks such as USB card readers, each as the whole card and as each of its
// partitions, named from udev's properties (sysfs attributes when udev has
// none). Floppies, optical drives, fixed disks and readers without a medium
// are left out.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A whole card holds its partition table and whatever lies outside its
// partitions; a partition is one volume on it.
enum class DriveKind { WholeCard, Partition };

struct DriveItem {
    std::string devicePath; // "/dev/sdb1"
    std::string name;       // "Generic STORAGE DEVICE"; empty when nothing names it
    DriveKind kind = DriveKind::WholeCard;
    uint32_t partition = 0; // its number on the card, for a partition
    // What the drive list shows: the device, one blank, the name and which
    // of the two it is ("/dev/sdb1 Generic STORAGE DEVICE (partition 1)").
    std::string Text() const;
    bool operator==(const DriveItem&) const = default;
};

using UdevProperties = std::map<std::string, std::string>;

// udev's properties of the block device with this kernel name; empty when unknown.
UdevProperties UdevPropertiesOf(const std::string& kernelName);

// Where the probe looks; tests point it at a fake tree.
struct DriveProbe {
    std::filesystem::path sysClassBlock = "/sys/class/block";
    std::filesystem::path devDirectory = "/dev";
    std::function<UdevProperties(const std::string& kernelName)> udevProperties = UdevPropertiesOf;
};

// The card drives, ordered by device path.
std::vector<DriveItem> ListCardDrives(const DriveProbe& probe = {});
