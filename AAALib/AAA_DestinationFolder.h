#pragma once
// The folder that receives recovered files. Everything under it is made
// relative to descriptors opened from its own, one component at a time and
// never through a symbolic link, so a link planted while a recovery runs can
// never send a write elsewhere. Files are always new (never overwritten).
#include <cstdint>

#include "AAA_WideString.h"

namespace AAA {

// A descriptor closed when it goes out of scope.
class UniqueDescriptor {
public:
    explicit UniqueDescriptor(int fd = -1) : fd_(fd) {}
    ~UniqueDescriptor();
    UniqueDescriptor(UniqueDescriptor&& other) noexcept : fd_(other.Release()) {}
    UniqueDescriptor& operator=(UniqueDescriptor&& other) noexcept;
    UniqueDescriptor(const UniqueDescriptor&) = delete;
    UniqueDescriptor& operator=(const UniqueDescriptor&) = delete;
    int Get() const { return fd_; }
    int Release();

private:
    int fd_;
};

class DestinationFolder {
public:
    // Opens the folder; failures raise through the error-number mapping.
    explicit DestinationFolder(const WString& path);

    const WString& Path() const { return path_; }
    // `relative` is '/'-separated, each component one host name (no "." or "..").
    // One folder level; an existing folder is fine, anything else there fails.
    void MakeFolder(const WString& relative) const;
    // A new file open for writing; raises EEXIST when anything is there.
    UniqueDescriptor CreateFile(const WString& relative) const;
    // Whether anything (file, folder, link) is there.
    bool Exists(const WString& relative) const;
    // Removes a file; failures are ignored.
    void RemoveFile(const WString& relative) const;
    // Moves `name` of the folder open as `fromFolder` to `relative`; false when
    // anything is already there (nothing is ever replaced).
    bool MoveInto(int fromFolder, const std::string& name, const WString& relative) const;
    // The folder's own descriptor, for folders made inside it by name.
    int Descriptor() const { return folder_.Get(); }
    // The largest file the folder's file system and this process allow.
    uint64_t MaxFileBytes() const;

private:
    // The folder holding the last component, and that component.
    UniqueDescriptor OpenParent(const WString& relative, std::string& leaf) const;

    WString path_;
    UniqueDescriptor folder_;
};

// Tests simulate a small file-size limit; null restores the real probe.
using FileSizeLimitProbe = uint64_t (*)(int folderDescriptor);
void SetFileSizeLimitProbeForTesting(FileSizeLimitProbe probe);

} // namespace AAA
