#pragma once
// Runs dosfstools and mtools on image files from tests. mtools is run with
// MTOOLS_SKIP_CHECK=1 so that it accepts any geometry the builder writes.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace TestSupport {

struct CommandResult {
    int exitCode = -1;
    std::string output;  // stdout and stderr together
};

// Runs argv[0] with the given arguments (no shell interpretation of them).
CommandResult RunCommand(const std::vector<std::string>& argv);

// Full path of a tool found in PATH, /usr/sbin or /sbin.
std::optional<std::string> FindTool(const std::string& name);
// fsck.fat, mkfs.fat, mdir, mtype and mcopy are all there.
bool HaveFatTools();

CommandResult FsckFat(const std::filesystem::path& image);  // fsck.fat -n (read-only)
CommandResult MkfsFat(const std::filesystem::path& image, const std::vector<std::string>& arguments);

// Paths inside the image are '/'-separated from the root, e.g. "DCIM/MOV001.MOD".
CommandResult Mdir(const std::filesystem::path& image, const std::string& folder = "");
// Every path in the image, one per line ("::/DCIM/MOV001.MOD"), from mdir -/ -b.
CommandResult MdirRecursive(const std::filesystem::path& image);
CommandResult Mtype(const std::filesystem::path& image, const std::string& file);
// Copies a file out of the image; returns its bytes, or nullopt if mcopy failed.
std::optional<std::string> McopyOut(const std::filesystem::path& image, const std::string& file,
                                    const std::filesystem::path& scratchFile);

} // namespace TestSupport
