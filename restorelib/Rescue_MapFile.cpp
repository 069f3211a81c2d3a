#include "Rescue_MapFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace Rescue {

namespace {
// A map holds a few lines per bad area; anything this large is not one.
constexpr size_t kLargestMapFile = 256u << 20;
} // namespace

std::optional<Map> LoadMapFile(const std::string& path, std::string& error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0 && text.size() <= kLargestMapFile)
        text.append(chunk, n);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed || text.size() > kLargestMapFile) {
        error = path + ": " + (failed ? std::strerror(EIO) : "too large for a mapfile");
        return std::nullopt;
    }
    std::optional<Map> map = ParseMap(text, error);
    if (!map)
        error = path + ": not a mapfile: " + error;
    return map;
}

int SaveMapFile(const std::string& path, const Map& map, const std::string& commandLine, Durability durability) {
    const std::string text = FormatMap(map, commandLine);
    // Its own name per process: a file of that name left by someone else is never taken.
    const std::string temporary = path + ".kalvory-" + std::to_string(::getpid()) + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return errno;
    size_t done = 0;
    int error = 0;
    while (done < text.size() && error == 0) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            error = n < 0 ? errno : ENOSPC;
        else
            done += static_cast<size_t>(n);
    }
    if (error == 0 && durability == Durability::SyncThenRename && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        ::unlink(temporary.c_str());
    return error;
}

} // namespace Rescue
