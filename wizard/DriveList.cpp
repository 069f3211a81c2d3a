#include "DriveList.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <libudev.h>

#include "AAA_MessageIds.h"
#include "AAA_StringTable.h"

namespace fs = std::filesystem;

namespace {

std::string Trim(std::string text) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), blank));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), blank).base(), text.end());
    return text;
}

// The first line of a sysfs attribute, trimmed; empty when it cannot be read.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return Trim(line);
}

std::string Property(const UdevProperties& properties, const std::string& key) {
    const auto found = properties.find(key);
    return found == properties.end() ? std::string() : found->second;
}

// udev's *_ENC values keep the device's own spelling with "\xNN" escapes.
std::string DecodeUdevText(const std::string& encoded) {
    std::string text;
    for (size_t i = 0; i < encoded.size(); ++i) {
        if (encoded.compare(i, 2, "\\x") == 0 && i + 3 < encoded.size() && std::isxdigit(static_cast<unsigned char>(encoded[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(encoded[i + 3]))) {
            text += static_cast<char>(std::stoi(encoded.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            text += encoded[i];
        }
    }
    return Trim(text);
}

std::string UdevText(const UdevProperties& properties, const std::string& key) {
    const std::string encoded = Property(properties, key + "_ENC");
    if (!encoded.empty())
        return DecodeUdevText(encoded);
    std::string plain = Property(properties, key);
    std::replace(plain.begin(), plain.end(), '_', ' ');
    return Trim(plain);
}

std::string JoinNonEmpty(const std::string& first, const std::string& second) {
    if (first.empty() || second.empty())
        return first + second;
    return first + " " + second;
}

// "mmcblk" and a number: the slot's disk, not its boot or RPMB areas.
bool IsSdSlot(const std::string& diskName) {
    const std::string prefix = "mmcblk";
    return diskName.size() > prefix.size() && diskName.compare(0, prefix.size(), prefix) == 0 &&
           std::all_of(diskName.begin() + prefix.size(), diskName.end(),
                       [](unsigned char c) { return std::isdigit(c) != 0; });
}

bool IsFloppy(const std::string& diskName, const UdevProperties& properties) {
    return diskName.rfind("fd", 0) == 0 || Property(properties, "ID_DRIVE_FLOPPY") == "1" ||
           Property(properties, "ID_TYPE") == "floppy";
}

bool IsOptical(const std::string& diskName, const UdevProperties& properties) {
    return diskName.rfind("sr", 0) == 0 || Property(properties, "ID_CDROM") == "1" ||
           Property(properties, "ID_TYPE") == "cd";
}

bool CanHoldCard(const std::string& diskName, const fs::path& disk, const UdevProperties& properties) {
    if (IsFloppy(diskName, properties) || IsOptical(diskName, properties))
        return false;
    const bool removable = Attribute(disk / "removable") == "1";
    // An SD slot reports its card as "SD"; a soldered eMMC says "MMC" and is fixed.
    if (IsSdSlot(diskName))
        return removable || Attribute(disk / "device/type") == "SD";
    return removable;
}

std::string FriendlyName(const fs::path& disk, const UdevProperties& properties) {
    std::string name = JoinNonEmpty(UdevText(properties, "ID_VENDOR"), UdevText(properties, "ID_MODEL"));
    if (name.empty())
        name = UdevText(properties, "ID_NAME"); // an SD card's product name
    if (name.empty())
        name = JoinNonEmpty(Attribute(disk / "device/vendor"), Attribute(disk / "device/model"));
    if (name.empty())
        name = Attribute(disk / "device/name");
    return name;
}

uint32_t PartitionNumber(const fs::path& node) {
    const std::string number = Attribute(node / "partition");
    return static_cast<uint32_t>(std::strtoul(number.c_str(), nullptr, 10));
}

} // namespace

std::string DriveItem::Text() const {
    const std::string label = kind == DriveKind::WholeCard
                                  ? AAA::LoadStringUtf8(AAA::Msg::WholeCardLabel)
                                  : AAA::FillPlaceholders(AAA::LoadStringUtf8(AAA::Msg::PartitionLabel), {std::to_string(partition)});
    return devicePath + " " + JoinNonEmpty(name, label);
}

UdevProperties UdevPropertiesOf(const std::string& kernelName) {
    UdevProperties properties;
    std::unique_ptr<udev, decltype(&udev_unref)> context(udev_new(), &udev_unref);
    if (!context)
        return properties;
    std::unique_ptr<udev_device, decltype(&udev_device_unref)> device(
        udev_device_new_from_subsystem_sysname(context.get(), "block", kernelName.c_str()), &udev_device_unref);
    if (!device)
        return properties;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_device_get_properties_list_entry(device.get())) {
        const char* value = udev_list_entry_get_value(entry);
        properties[udev_list_entry_get_name(entry)] = value ? value : "";
    }
    return properties;
}

std::vector<DriveItem> ListCardDrives(const DriveProbe& probe) {
    std::vector<DriveItem> items;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(probe.sysClassBlock, error)) {
        const fs::path node = fs::canonical(entry.path(), error);
        if (error)
            continue;
        const DriveKind kind = fs::exists(node / "partition") ? DriveKind::Partition : DriveKind::WholeCard;
        const fs::path disk = kind == DriveKind::Partition ? node.parent_path() : node;
        const std::string diskName = disk.filename().string();
        const UdevProperties properties = probe.udevProperties(diskName);
        if (!CanHoldCard(diskName, disk, properties) || Attribute(node / "size") == "0")
            continue;
        const std::string kernelName = entry.path().filename().string();
        items.push_back({(probe.devDirectory / kernelName).string(), FriendlyName(disk, properties), kind,
                         kind == DriveKind::Partition ? PartitionNumber(node) : 0});
    }
    std::sort(items.begin(), items.end(),
              [](const DriveItem& a, const DriveItem& b) { return a.devicePath < b.devicePath; });
    return items;
}
