#include "support/MtoolsHelpers.h"

#include "support/TempDir.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>

namespace TestSupport {

namespace {

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string ImagePath(const std::string& file) {
    return "::/" + (file.empty() || file.front() != '/' ? file : file.substr(1));
}

CommandResult RunMtool(const std::string& tool, std::vector<std::string> arguments) {
    const auto path = FindTool(tool);
    if (!path) return {127, tool + " not found"};
    arguments.insert(arguments.begin(), {"env", "MTOOLS_SKIP_CHECK=1", *path});
    return RunCommand(arguments);
}

} // namespace

CommandResult RunCommand(const std::vector<std::string>& argv) {
    std::string command;
    for (const std::string& arg : argv) command += ShellQuote(arg) + " ";
    command += "2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return {-1, "popen failed"};
    CommandResult result;
    std::array<char, 65536> buffer;
    for (std::size_t n; (n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0;) result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::optional<std::string> FindTool(const std::string& name) {
    const char* env = std::getenv("PATH");
    std::stringstream dirs(std::string(env ? env : "") + ":/usr/sbin:/sbin");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        const std::filesystem::path candidate = std::filesystem::path(dir) / name;
        std::error_code ec;
        if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
    }
    return std::nullopt;
}

bool HaveFatTools() {
    for (const char* tool : {"fsck.fat", "mkfs.fat", "mdir", "mtype", "mcopy"})
        if (!FindTool(tool)) return false;
    return true;
}

CommandResult FsckFat(const std::filesystem::path& image) {
    const auto path = FindTool("fsck.fat");
    if (!path) return {127, "fsck.fat not found"};
    return RunCommand({*path, "-n", image.string()});
}

CommandResult MkfsFat(const std::filesystem::path& image, const std::vector<std::string>& arguments) {
    const auto path = FindTool("mkfs.fat");
    if (!path) return {127, "mkfs.fat not found"};
    std::vector<std::string> argv{*path};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    argv.push_back(image.string());
    return RunCommand(argv);
}

CommandResult Mdir(const std::filesystem::path& image, const std::string& folder) {
    return RunMtool("mdir", {"-i", image.string(), ImagePath(folder)});
}

CommandResult MdirRecursive(const std::filesystem::path& image) {
    return RunMtool("mdir", {"-/", "-b", "-i", image.string(), "::/"});
}

CommandResult Mtype(const std::filesystem::path& image, const std::string& file) {
    return RunMtool("mtype", {"-i", image.string(), ImagePath(file)});
}

std::optional<std::string> McopyOut(const std::filesystem::path& image, const std::string& file,
                                    const std::filesystem::path& scratchFile) {
    std::error_code ignored;
    std::filesystem::remove(scratchFile, ignored);
    const CommandResult result = RunMtool("mcopy", {"-n", "-i", image.string(), ImagePath(file), scratchFile.string()});
    if (result.exitCode != 0) return std::nullopt;
    return ReadFileBytes(scratchFile);
}

} // namespace TestSupport
