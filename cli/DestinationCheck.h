#pragma once
// Refusals and preparation of the folder that receives the recovered files.
#include <filesystem>
#include <string>

namespace KalvoryCli {

enum class DestinationVerdict {
    Accepted,
    OnSourceDevice,     // lies on a file system mounted from the card itself
    HoldsPrivateFolder, // already holds an entry named PRIVATE
};

// `destination` may not exist yet; its nearest existing ancestor decides the
// device. Only a block-device source can hold the destination; an image file's
// own location does not count.
DestinationVerdict CheckDestination(const std::filesystem::path& source, const std::filesystem::path& destination);

// Creates `destination` (one level: its parent must exist) unless it is
// already a folder. Returns an empty string or the system's error text.
std::string PrepareDestination(const std::filesystem::path& destination);

} // namespace KalvoryCli
