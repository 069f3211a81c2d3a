#include "StagingArea.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "AAA_CopyHelpers.h"
#include "AAA_DebugLog.h"
#include "AAA_Exceptions.h"

namespace FSAccessLib {
namespace {

// How far the digest of a file being staged runs behind its last byte.
constexpr size_t kLagBytes = 4u << 20;
constexpr int kFolderAttempts = 1000;

void WriteAll(int fd, const uint8_t* bytes, size_t count, uint64_t at) {
    while (count > 0) {
        const ssize_t n = ::pwrite(fd, bytes, count, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            AAA::ThrowFromErrno(n < 0 ? errno : EIO);
        bytes += n;
        count -= static_cast<size_t>(n);
        at += static_cast<uint64_t>(n);
    }
}

} // namespace

StagingArea::StagingArea(const AAA::WString& destination, AAA::DigestMaker digests)
    : destination_(destination), digests_(std::move(digests)) {}

void StagingArea::MakeFolder() {
    for (int attempt = 1; attempt <= kFolderAttempts; ++attempt) {
        const std::string name = ".kalvory-staging" + (attempt == 1 ? std::string() : "-" + std::to_string(attempt));
        if (::mkdirat(destination_.Descriptor(), name.c_str(), 0700) != 0) {
            if (errno == EEXIST)
                continue; // someone's folder: never ours to use
            AAA::ThrowFromErrno();
        }
        folder_ = AAA::UniqueDescriptor(
            ::openat(destination_.Descriptor(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (folder_.Get() < 0)
            AAA::ThrowFromErrno();
        folderName_ = name;
        return;
    }
    AAA::ThrowFromErrno(EEXIST);
}

StagingArea::~StagingArea() {
    if (stream_ != nullptr && active_)
        stream_->SetReadTee(nullptr);
    CloseActive();
    for (uint32_t id = 0; id < segments_.size(); ++id)
        Remove(id);
    if (folder_.Get() < 0)
        return;
    folder_ = AAA::UniqueDescriptor();
    ::unlinkat(destination_.Descriptor(), folderName_.c_str(), AT_REMOVEDIR);
}

size_t StagingArea::StagedFiles() const {
    return static_cast<size_t>(std::count_if(segments_.begin(), segments_.end(), [](const Segment& s) { return !s.gone; }));
}

void StagingArea::Begin(AAA::FileStream& stream, uint64_t start) {
    if (failed_ || depth_++ > 0)
        return; // an inner find's bytes are the outer one's too
    Segment segment;
    segment.start = start;
    segments_.push_back(std::move(segment));
    active_ = static_cast<uint32_t>(segments_.size() - 1);
    byStart_.emplace(start, *active_);
    activeDigest_ = digests_ ? digests_() : nullptr;
    lag_.clear();
    hashed_ = 0;
    stream_ = &stream;
    stream.SetReadTee(this);
    stream.ReplayHeld(start);
}

void StagingArea::End(AAA::FileStream& stream, uint64_t length) {
    if (depth_ == 0 || --depth_ > 0)
        return;
    stream.SetReadTee(nullptr);
    if (!active_)
        return;
    const uint32_t id = *active_;
    Segment& segment = segments_[id];
    if (length != 0 && length != kNotOneRun && segment.sequential >= length)
        FinishDigest(segment, length);
    CloseActive();
    if (length == 0 || segment.appended == 0)
        Remove(id); // nothing was found there
}

void StagingArea::Fetched(uint64_t offset, const uint8_t* bytes, size_t count) {
    if (!active_)
        return;
    Segment& segment = segments_[*active_];
    if (offset + count <= segment.start)
        return;
    if (offset < segment.start) {
        bytes += segment.start - offset;
        count -= static_cast<size_t>(segment.start - offset);
        offset = segment.start;
    }
    // Only what this file's capture does not hold yet.
    uint64_t at = offset;
    const uint64_t end = offset + count;
    try {
        for (const AAA::ByteRange& held : segment.held.Within(offset, count)) {
            if (held.start > at)
                Append(segment, at, bytes + (at - offset), static_cast<size_t>(held.start - at));
            at = held.End();
        }
        if (at < end)
            Append(segment, at, bytes + (at - offset), static_cast<size_t>(end - at));
    } catch (const AAA::ExceptionBase& error) {
        GiveUp(error.ErrorNumber());
    }
}

void StagingArea::Append(Segment& segment, uint64_t offset, const uint8_t* bytes, size_t count) {
    const uint32_t id = *active_;
    if (folder_.Get() < 0)
        MakeFolder(); // only a run that stages anything leaves a trace, and only while it runs
    if (activeFile_.Get() < 0) {
        activeFile_ = AAA::UniqueDescriptor(::openat(folder_.Get(), FileName(id).c_str(),
                                                     O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (activeFile_.Get() < 0)
            AAA::ThrowFromErrno();
    }
    WriteAll(activeFile_.Get(), bytes, count, segment.appended);
    if (segment.sequential == segment.appended && offset == segment.start + segment.appended) {
        segment.sequential += count;
        HashLagging(bytes, count);
    }
    AddRun(id, offset, count, segment.appended);
    segment.held.Add(offset, count);
    segment.appended += count;
    stagedBytes_ += count;
}

void StagingArea::HashLagging(const uint8_t* bytes, size_t count) {
    if (!activeDigest_)
        return;
    lag_.insert(lag_.end(), bytes, bytes + count);
    if (lag_.size() < 2 * kLagBytes)
        return;
    const size_t hashed = lag_.size() - kLagBytes;
    activeDigest_->Update(lag_.data(), hashed);
    lag_.erase(lag_.begin(), lag_.begin() + static_cast<std::ptrdiff_t>(hashed));
    hashed_ += hashed;
}

void StagingArea::FinishDigest(Segment& segment, uint64_t length) {
    if (activeDigest_) {
        if (length < hashed_)
            return; // hashed past the file's end already: the save copies it instead
        activeDigest_->Update(lag_.data(), static_cast<size_t>(length - hashed_));
        segment.digest = activeDigest_->Final();
    }
    segment.wholeLength = length;
}

void StagingArea::CloseActive() {
    activeFile_ = AAA::UniqueDescriptor();
    active_.reset();
    activeDigest_.reset();
    lag_.clear();
    lag_.shrink_to_fit();
}

void StagingArea::Remove(uint32_t id) {
    Segment& segment = segments_[id];
    if (segment.gone)
        return;
    segment.gone = true;
    ::unlinkat(folder_.Get(), FileName(id).c_str(), 0);
}

void StagingArea::GiveUp(int error) {
    AAA::DebugLog(3, "staging in the destination stopped (%s); the save reads the rest from the card\n",
                  AAA::SystemReason(error));
    failed_ = true;
    depth_ = 0;
    if (stream_ != nullptr)
        stream_->SetReadTee(nullptr);
    const uint32_t id = *active_;
    CloseActive();
    Remove(id); // its last bytes may not have reached the disk
}

void StagingArea::AddRun(uint32_t id, uint64_t offset, uint64_t count, uint64_t filePosition) {
    while (count > 0) {
        Run* last = lastRun_ == runs_.end() ? nullptr : &lastRun_->second;
        const bool continues = last && last->segment == id && last->cardStart + last->length == offset &&
                               last->filePosition + last->length == filePosition;
        const uint64_t room = continues ? kRunBytes - last->length : kRunBytes;
        const uint64_t piece = std::min(count, room);
        if (piece == 0) {
            lastRun_ = runs_.end(); // full: the next piece starts a run of its own
            continue;
        }
        if (continues)
            last->length += piece;
        else
            lastRun_ = runs_.emplace(offset, Run{offset, piece, id, filePosition});
        offset += piece;
        filePosition += piece;
        count -= piece;
    }
}

std::vector<const StagingArea::Run*> StagingArea::RunsWithin(uint64_t start, uint64_t length) {
    std::vector<const Run*> found;
    const uint64_t end = start + length;
    for (auto it = runs_.lower_bound(start > kRunBytes ? start - kRunBytes : 0); it != runs_.end() && it->first < end; ++it) {
        const Run& run = it->second;
        if (run.cardStart + run.length > start && !segments_[run.segment].gone)
            found.push_back(&run);
    }
    return found;
}

std::vector<uint32_t> StagingArea::SegmentsFor(const std::vector<AAA::ByteRange>& ranges) {
    // A file staged whole is moved, whatever other captures hold of its bytes.
    if (ranges.size() == 1)
        if (const std::optional<uint32_t> whole = WholeSegment(ranges.front().start, ranges.front().length))
            return {*whole};
    std::vector<uint32_t> touched;
    for (const AAA::ByteRange& range : ranges)
        for (const Run* run : RunsWithin(range.start, range.length))
            touched.push_back(run->segment);
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    return touched;
}

std::optional<uint32_t> StagingArea::WholeSegment(uint64_t start, uint64_t length) const {
    const auto [first, last] = byStart_.equal_range(start);
    for (auto it = first; it != last; ++it) {
        // Moved ones too: Done after the move must not count the file against others.
        if (segments_[it->second].wholeLength == length)
            return it->second;
    }
    return std::nullopt;
}

void StagingArea::PlanUses(const std::vector<std::vector<AAA::ByteRange>>& filesRanges) {
    for (Segment& segment : segments_)
        segment.uses = 0;
    for (const std::vector<AAA::ByteRange>& ranges : filesRanges)
        for (const uint32_t id : SegmentsFor(ranges))
            ++segments_[id].uses;
    for (uint32_t id = 0; id < segments_.size(); ++id)
        if (segments_[id].uses == 0)
            Remove(id); // no file to write needs its bytes
}

void StagingArea::Done(const std::vector<AAA::ByteRange>& ranges) {
    for (const uint32_t id : SegmentsFor(ranges))
        if (--segments_[id].uses <= 0)
            Remove(id);
}

std::optional<std::string> StagingArea::TakeWhole(uint64_t start, uint64_t length, const AAA::DestinationFolder& folder,
                                                  const AAA::WString& relative) {
    const std::optional<uint32_t> id = WholeSegment(start, length);
    if (!id || segments_[*id].gone || segments_[*id].uses > 1)
        return std::nullopt;
    Segment& segment = segments_[*id];
    const std::string name = FileName(*id);
    const AAA::UniqueDescriptor file(::openat(folder_.Get(), name.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.Get() < 0 || ::ftruncate(file.Get(), static_cast<off_t>(length)) != 0)
        return std::nullopt; // the copy reads it instead
    if (!folder.MoveInto(folder_.Get(), name, relative))
        return std::nullopt;
    segment.gone = true;
    return segment.digest;
}

size_t StagingArea::Fill(uint64_t offset, uint8_t* out, size_t count) {
    if (count == 0 || runs_.empty())
        return 0;
    uint64_t at = offset;
    const uint64_t end = offset + count;
    for (const Run* run : RunsWithin(offset, count)) {
        if (run->cardStart > at)
            break; // a gap: the rest comes from the card
        const uint64_t runEnd = std::min(end, run->cardStart + run->length);
        if (runEnd <= at)
            continue;
        if (fillingId_ != run->segment) {
            filling_ = AAA::UniqueDescriptor(
                ::openat(folder_.Get(), FileName(run->segment).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
            fillingId_ = run->segment;
        }
        const auto wanted = static_cast<size_t>(runEnd - at);
        const off_t from = static_cast<off_t>(run->filePosition + (at - run->cardStart));
        if (filling_.Get() < 0 || ::pread(filling_.Get(), out + (at - offset), wanted, from) != static_cast<ssize_t>(wanted)) {
            fillingId_ = UINT32_MAX;
            break;
        }
        at = runEnd;
        if (at == end)
            break;
    }
    return static_cast<size_t>(at - offset);
}

void StagingArea::Copy(AAA::Stream& card, uint64_t start, uint64_t length, AAA::Stream& output, AAA::Digest* digest) {
    uint64_t at = start;
    const uint64_t end = start + length;
    for (const Run* run : RunsWithin(start, length)) {
        const uint64_t runEnd = std::min(end, run->cardStart + run->length);
        if (runEnd <= at)
            continue; // an earlier run gave these bytes
        if (run->cardStart > at) {
            AAA::CopyExtent(card, at, run->cardStart - at, output, digest);
            at = run->cardStart;
        }
        if (!staged_ || stagedId_ != run->segment) {
            const int fd = ::openat(folder_.Get(), FileName(run->segment).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (fd < 0)
                AAA::ThrowFromErrno();
            staged_.emplace(fd, AAA::FromUtf8(FileName(run->segment)));
            stagedId_ = run->segment;
        }
        AAA::CopyExtent(*staged_, run->filePosition + (at - run->cardStart), runEnd - at, output, digest);
        at = runEnd;
    }
    if (at < end)
        AAA::CopyExtent(card, at, end - at, output, digest);
}

} // namespace FSAccessLib
