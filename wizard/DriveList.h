#pragma once
// The drives a memory card can be in: SD/MMC slots (mmcblk*) and removable
// disks such as USB card readers, each with its partitions, named from udev's
// properties (sysfs attributes when udev has none). Floppies, optical drives,
// fixed disks and readers without a medium are left out.
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct DriveItem {
    std::string devicePath; // "/dev/sdb1"
    std::string name;       // "Generic STORAGE DEVICE"; empty when nothing names it
    // What the drive list shows: the device, one blank, the name.
    std::string Text() const { return devicePath + " " + name; }
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
