#include "AAA_DestinationFolder.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AAA_Exceptions.h"

namespace AAA {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

uint64_t SystemFileSizeLimit(int folder) {
    uint64_t limit = UINT64_MAX;
    // FAT answers 32 bits (4 GiB - 1); most others 64.
    const long bits = ::fpathconf(folder, _PC_FILESIZEBITS);
    if (bits > 0 && bits < 64)
        limit = (uint64_t{1} << bits) - 1;
    struct rlimit fileSize {};
    if (::getrlimit(RLIMIT_FSIZE, &fileSize) == 0 && fileSize.rlim_cur != RLIM_INFINITY && fileSize.rlim_cur < limit)
        limit = fileSize.rlim_cur;
    return limit;
}

std::atomic<FileSizeLimitProbe> fileSizeLimitProbe{&SystemFileSizeLimit};

} // namespace

UniqueDescriptor::~UniqueDescriptor() {
    if (fd_ >= 0)
        ::close(fd_);
}

UniqueDescriptor& UniqueDescriptor::operator=(UniqueDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.Release();
    }
    return *this;
}

int UniqueDescriptor::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void SetFileSizeLimitProbeForTesting(FileSizeLimitProbe probe) {
    fileSizeLimitProbe.store(probe ? probe : &SystemFileSizeLimit);
}

DestinationFolder::DestinationFolder(const WString& path) : path_(path) {
    // The folder the user named may itself be reached through a link; what
    // lies below it never is.
    folder_ = UniqueDescriptor(::open(ToUtf8(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_.Get() < 0)
        ThrowFromErrno();
}

UniqueDescriptor DestinationFolder::OpenParent(const WString& relative, std::string& leaf) const {
    const std::string path = ToUtf8(relative);
    UniqueDescriptor parent;
    size_t from = 0;
    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', from)) {
        const std::string component = path.substr(from, slash - from);
        from = slash + 1;
        if (component.empty())
            continue;
        const int base = parent.Get() >= 0 ? parent.Get() : folder_.Get();
        UniqueDescriptor next(::openat(base, component.c_str(), kFolderFlags));
        if (next.Get() < 0)
            ThrowFromErrno();
        parent = std::move(next);
    }
    leaf = path.substr(from);
    if (leaf.empty() || leaf == "." || leaf == "..")
        ThrowFromErrno(EINVAL);
    if (parent.Get() < 0)
        parent = UniqueDescriptor(::fcntl(folder_.Get(), F_DUPFD_CLOEXEC, 0));
    if (parent.Get() < 0)
        ThrowFromErrno();
    return parent;
}

void DestinationFolder::MakeFolder(const WString& relative) const {
    std::string leaf;
    const UniqueDescriptor parent = OpenParent(relative, leaf);
    if (::mkdirat(parent.Get(), leaf.c_str(), 0777) == 0)
        return;
    const int error = errno;
    struct stat info {};
    if (error == EEXIST && ::fstatat(parent.Get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(info.st_mode))
        return;
    ThrowFromErrno(error);
}

UniqueDescriptor DestinationFolder::CreateFile(const WString& relative) const {
    std::string leaf;
    const UniqueDescriptor parent = OpenParent(relative, leaf);
    UniqueDescriptor file(
        ::openat(parent.Get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (file.Get() < 0)
        ThrowFromErrno();
    return file;
}

bool DestinationFolder::MoveInto(int fromFolder, const std::string& name, const WString& relative) const {
    std::string leaf;
    const UniqueDescriptor parent = OpenParent(relative, leaf);
    if (::renameat2(fromFolder, name.c_str(), parent.Get(), leaf.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS)
        ThrowFromErrno();
    // A file system without the no-replace rename: a link fails just as well on a taken name.
    if (::linkat(fromFolder, name.c_str(), parent.Get(), leaf.c_str(), 0) != 0) {
        if (errno == EEXIST)
            return false;
        ThrowFromErrno();
    }
    ::unlinkat(fromFolder, name.c_str(), 0);
    return true;
}

bool DestinationFolder::Exists(const WString& relative) const {
    try {
        std::string leaf;
        const UniqueDescriptor parent = OpenParent(relative, leaf);
        struct stat info {};
        return ::fstatat(parent.Get(), leaf.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    } catch (const ExceptionBase&) {
        return false; // no folder to hold it: creating it will say why
    }
}

void DestinationFolder::RemoveFile(const WString& relative) const {
    try {
        std::string leaf;
        const UniqueDescriptor parent = OpenParent(relative, leaf);
        ::unlinkat(parent.Get(), leaf.c_str(), 0);
    } catch (const ExceptionBase&) {
    }
}

uint64_t DestinationFolder::MaxFileBytes() const { return fileSizeLimitProbe.load()(folder_.Get()); }

} // namespace AAA
