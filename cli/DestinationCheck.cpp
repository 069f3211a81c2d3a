#include "DestinationCheck.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace KalvoryCli {
namespace {

// The whole disk a partition belongs to (the device itself when it is a disk).
dev_t WholeDisk(dev_t device) {
    const std::string node = "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code error;
    if (!std::filesystem::exists(node + "/partition", error))
        return device;
    std::ifstream parentDev(std::filesystem::canonical(node, error).parent_path() / "dev");
    unsigned maj = 0, min = 0;
    char colon = 0;
    if (error || !(parentDev >> maj >> colon >> min) || colon != ':')
        return device;
    return makedev(maj, min);
}

std::filesystem::path NearestExisting(std::filesystem::path path) {
    path = std::filesystem::absolute(path).lexically_normal();
    std::error_code error;
    while (!path.empty() && !std::filesystem::exists(path, error) && path.has_parent_path() && path != path.parent_path())
        path = path.parent_path();
    return path;
}

} // namespace

DestinationVerdict CheckDestination(const std::filesystem::path& source, const std::filesystem::path& destination) {
    struct stat sourceInfo {};
    struct stat destinationInfo {};
    if (::stat(source.c_str(), &sourceInfo) == 0 && S_ISBLK(sourceInfo.st_mode) &&
        ::stat(NearestExisting(destination).c_str(), &destinationInfo) == 0) {
        const dev_t card = sourceInfo.st_rdev;
        const dev_t holder = destinationInfo.st_dev;
        if (holder == card || WholeDisk(holder) == card || WholeDisk(holder) == WholeDisk(card))
            return DestinationVerdict::OnSourceDevice;
    }
    std::error_code error;
    if (std::filesystem::is_directory(destination, error)) {
        for (const auto& entry : std::filesystem::directory_iterator(destination, error)) {
            if (entry.path().filename() == "PRIVATE")
                return DestinationVerdict::HoldsPrivateFolder;
        }
    }
    return DestinationVerdict::Accepted;
}

std::string PrepareDestination(const std::filesystem::path& destination) {
    struct stat info {};
    if (::stat(destination.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode) ? std::string() : std::strerror(ENOTDIR);
    if (::mkdir(destination.c_str(), 0777) != 0)
        return std::strerror(errno);
    return {};
}

} // namespace KalvoryCli
