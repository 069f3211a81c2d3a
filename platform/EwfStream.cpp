#include "EwfStream.h"

#include <cerrno>
#include <filesystem>
#include <libewf.h>
#include <string>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"
#include "AAA_MessageIds.h"
#include "AAA_StringTable.h"
#include "EwfSegments.h"

namespace Platform {
namespace {

constexpr const char* kSourceFile = "platform/EwfStream";

// libewf's reason: the first line of its backtrace, where the failure began,
// without the function's name ("unsupported segment file signature").
std::string Reason(libewf_error_t*& error) {
    if (!error)
        return {};
    std::vector<char> text(4096);
    const int written = libewf_error_backtrace_sprint(error, text.data(), text.size());
    libewf_error_free(&error);
    std::string reason = written > 0 ? std::string(text.data()) : std::string();
    reason = reason.substr(0, reason.find('\n'));
    if (const size_t colon = reason.find(": "); colon != std::string::npos)
        reason.erase(0, colon + 2);
    while (!reason.empty() && (reason.back() == '.' || reason.back() == '\r'))
        reason.pop_back();
    return reason;
}

template <class E>
[[noreturn]] void Refuse(int line, const char* name, int textId, std::initializer_list<std::string> values) {
    E error;
    error.AddDetail(AAA::FromUtf8(AAA::FillPlaceholders(AAA::LoadStringUtf8(textId), values)));
    AAA::ThrowLogged<E>(kSourceFile, line, name, error);
}

class Handle {
public:
    Handle() {
        libewf_error_t* error = nullptr;
        if (libewf_handle_initialize(&handle_, &error) != 1) {
            Reason(error);
            AAA::ThrowLogged<AAA::InsufficientMemoryException>(kSourceFile, __LINE__, "InsufficientMemoryException()");
        }
    }
    ~Handle() {
        if (open_)
            libewf_handle_close(handle_, nullptr);
        libewf_handle_free(&handle_, nullptr);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    libewf_handle_t* get() const { return handle_; }
    void MarkOpen() { open_ = true; }

private:
    libewf_handle_t* handle_ = nullptr;
    bool open_ = false;
};

// The segments libewf_glob finds beside the first, in order.
std::vector<std::string> GlobSegments(const std::string& first) {
    libewf_error_t* error = nullptr;
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(first.c_str(), first.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
        Refuse<AAA::IOException>(__LINE__, "IOException()", AAA::Msg::E01Unreadable, {first, Reason(error)});
    std::vector<std::string> segments(names, names + count);
    libewf_glob_free(names, count, nullptr);
    return segments;
}

// After a set of segments that reads as incomplete: names the gap when a
// later segment exists, or says what else it may be.
[[noreturn]] void RefuseIncomplete(const std::string& first, const std::vector<std::string>& segments) {
    const auto count = static_cast<uint32_t>(segments.size());
    const std::optional<std::string> next = SegmentPath(first, count + 1);
    const std::optional<std::string> after = SegmentPath(first, count + 2);
    std::error_code ignored;
    if (next && after && std::filesystem::exists(*after, ignored))
        Refuse<AAA::FileNotFoundException>(__LINE__, "FileNotFoundException()", AAA::Msg::E01SegmentMissing, {*next});
    Refuse<AAA::IOException>(__LINE__, "IOException()", AAA::Msg::E01Incomplete, {first, segments.back(), next.value_or("")});
}

class EwfStream final : public Restore::ProgressFileStream {
public:
    // No descriptor: the in-kernel copy then declines (EBADF) and every byte
    // goes through SystemRead; a write fails the same way.
    EwfStream(const AAA::WString& path, std::unique_ptr<Handle> handle, uint64_t mediaSize)
        : ProgressFileStream(-1, path), handle_(std::move(handle)), mediaSize_(mediaSize) {}

protected:
    int64_t SystemSeek(int64_t offset, int whence) override {
        int64_t base = 0;
        if (whence == SEEK_CUR)
            base = static_cast<int64_t>(position_);
        else if (whence == SEEK_END)
            base = static_cast<int64_t>(mediaSize_);
        else if (whence != SEEK_SET)
            return Fail(EINVAL);
        if (base + offset < 0)
            return Fail(EINVAL);
        position_ = static_cast<uint64_t>(base + offset);
        return static_cast<int64_t>(position_);
    }

    ssize_t SystemRead(void* buffer, size_t count) override {
        if (position_ >= mediaSize_)
            return 0;
        count = static_cast<size_t>(std::min<uint64_t>(count, mediaSize_ - position_));
        if (damaged_.Intersects(position_, count))
            return Fail(EIO);
        libewf_error_t* error = nullptr;
        const ssize_t n =
            libewf_handle_read_random(handle_->get(), buffer, count, static_cast<off64_t>(position_), &error);
        if (n < 0) {
            AAA::DebugLog(3, "%s: libewf: %S\n", Path(), Reason(error));
            return Fail(EIO);
        }
        // A chunk whose checksum fails is read as it is stored, once: its
        // sectors count as bad from then on.
        NoteChecksumErrors();
        if (damaged_.Intersects(position_, static_cast<size_t>(n)))
            return Fail(EIO);
        position_ += static_cast<uint64_t>(n);
        return n;
    }

private:
    static int Fail(int error) {
        errno = error;
        return -1;
    }

    void NoteChecksumErrors() {
        uint32_t count = 0;
        if (libewf_handle_get_number_of_checksum_errors(handle_->get(), &count, nullptr) != 1)
            return;
        uint32_t bytesPerSector = 0;
        if (count > checksumErrors_ && libewf_handle_get_bytes_per_sector(handle_->get(), &bytesPerSector, nullptr) != 1)
            return;
        for (; checksumErrors_ < count; ++checksumErrors_) {
            uint64_t firstSector = 0, sectors = 0;
            if (libewf_handle_get_checksum_error(handle_->get(), checksumErrors_, &firstSector, &sectors, nullptr) == 1)
                damaged_.Add(firstSector * bytesPerSector, sectors * bytesPerSector);
        }
    }

    std::unique_ptr<Handle> handle_;
    uint64_t mediaSize_;
    uint64_t position_ = 0;
    uint32_t checksumErrors_ = 0;
    AAA::ByteRangeSet damaged_;
};

} // namespace

std::unique_ptr<Restore::ProgressFileStream> OpenEwfImage(const AAA::WString& firstSegment) {
    const std::string first = AAA::ToUtf8(firstSegment);
    std::vector<std::string> segments = GlobSegments(first);
    std::vector<char*> names;
    for (std::string& segment : segments)
        names.push_back(segment.data());
    auto handle = std::make_unique<Handle>();
    libewf_error_t* error = nullptr;
    if (libewf_handle_open(handle->get(), names.data(), static_cast<int>(names.size()), LIBEWF_OPEN_READ, &error) != 1)
        Refuse<AAA::IOException>(__LINE__, "IOException()", AAA::Msg::E01Unreadable, {first, Reason(error)});
    handle->MarkOpen();
    // libewf opens a set with a segment missing or cut short and reads zeros
    // for what is not there: such a set is refused, not recovered from.
    if (libewf_handle_segment_files_corrupted(handle->get(), nullptr) != 0)
        RefuseIncomplete(first, segments);
    size64_t mediaSize = 0;
    if (libewf_handle_get_media_size(handle->get(), &mediaSize, &error) != 1)
        Refuse<AAA::IOException>(__LINE__, "IOException()", AAA::Msg::E01Unreadable, {first, Reason(error)});
    return std::make_unique<EwfStream>(firstSegment, std::move(handle), mediaSize);
}

} // namespace Platform
