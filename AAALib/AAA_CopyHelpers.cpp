#include "AAA_CopyHelpers.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_FileStream.h"

namespace AAA {
namespace {

// One preallocated buffer per copying thread, so a copy allocates nothing per piece.
uint8_t* CopyBuffer() {
    thread_local std::unique_ptr<uint8_t[]> buffer(new uint8_t[kCopyPieceSize]);
    return buffer.get();
}

// Copies inside the kernel while both ends are files that allow it; returns
// the bytes still to copy (all of them when the system cannot).
uint64_t TransferInKernel(Stream& source, uint64_t offset, uint64_t length, Stream& destination) {
    auto* from = dynamic_cast<FileStream*>(&source);
    auto* to = dynamic_cast<FileStream*>(&destination);
    // Known bad sectors are read around by the plain copy.
    if (!from || !to || from->Unreadable().Intersects(offset, length))
        return length;
    while (length > 0) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(length, kCopyPieceSize));
        const std::optional<uint32_t> moved = to->TransferFrom(*from, static_cast<int64_t>(offset), want);
        if (!moved)
            break;
        if (*moved == 0)
            ThrowLogged<UnexpectedEofException>("AAALib/AAA_CopyHelpers", __LINE__, "UnexpectedEofException()");
        offset += *moved;
        length -= *moved;
    }
    // The plain copy goes on from here; a finished one leaves the source after
    // the extent, as reading it would.
    source.Seek(static_cast<int64_t>(offset), SeekBegin);
    return length;
}

} // namespace

bool PathExists(const WString& path) {
    struct stat info {};
    // lstat: a link counts as occupied and is never followed.
    return ::lstat(ToUtf8(path).c_str(), &info) == 0;
}

void CopyExtentToNewFile(Stream& source, uint64_t offset, uint64_t length, const WString& path) {
    if (PathExists(path))
        return;
    std::optional<Restore::ProgressFileStream> destination;
    try {
        destination.emplace(path, OpenMode::Create, OpenAccess::Write);
        CopyExtent(source, offset, length, *destination);
    } catch (const ExceptionBase& error) {
        if (dynamic_cast<const CancellationException*>(&error))
            DebugLog(7, "\nCANCELED\n");
        // Whatever the failure, no partial file that looks recovered; a file
        // that was there before the open is not ours to remove.
        if (destination) {
            destination.reset();
            DeleteFileForced(path);
        }
        throw;
    }
}

void CopyExtent(Stream& source, uint64_t offset, uint64_t length, Stream& destination) {
    CopyExtent(source, offset, length, destination, nullptr);
}

void CopyExtent(Stream& source, uint64_t offset, uint64_t length, Stream& destination, Digest* digest) {
    source.Seek(static_cast<int64_t>(offset), SeekBegin);
    if (digest == nullptr) { // bytes a digest must see cannot stay in the kernel
        const uint64_t left = TransferInKernel(source, offset, length, destination);
        offset += length - left;
        length = left;
    }
    uint8_t* buffer = CopyBuffer();
    source.Seek(static_cast<int64_t>(offset), SeekBegin);
    while (length > 0) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(length, kCopyPieceSize));
        const uint32_t got = source.Read(buffer, want);
        if (got == 0)
            ThrowLogged<UnexpectedEofException>("AAALib/AAA_CopyHelpers", __LINE__, "UnexpectedEofException()");
        if (digest)
            digest->Update(buffer, got);
        destination.Write(buffer, got);
        length -= got;
    }
}

void MakeDirectoryIfMissing(const WString& path) {
    const std::string native = ToUtf8(path);
    struct stat info {};
    if (::lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        return;
    if (::mkdir(native.c_str(), 0777) != 0)
        ThrowFromErrno();
}

void DeleteFileForced(const WString& path) {
    const std::string native = ToUtf8(path);
    struct stat info {};
    if (::lstat(native.c_str(), &info) == 0 && S_ISREG(info.st_mode))
        ::chmod(native.c_str(), (info.st_mode & 07777) | S_IWUSR);
    ::unlink(native.c_str());
}

} // namespace AAA
