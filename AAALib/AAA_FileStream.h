#pragma once
// A stream over a file or a block device. The file is only ever positioned at
// multiples of blockSize (the card's sector size); other offsets are reached by
// reading forward from the boundary below. Sources open read-only; created files
// are created exclusively, so an existing file is never overwritten.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <sys/types.h>
#include <vector>

#include "AAA_ByteRanges.h"
#include "AAA_ReadAhead.h"
#include "AAA_ReadTee.h"
#include "AAA_Stream.h"
#include "AAA_WideString.h"

namespace AAA {

enum class OpenMode : int { Create = 0, OpenExisting = 1 };
enum class OpenAccess : int { Read = 0, ReadWrite = 1, Write = 2 };

// How a failed read of the source is taken: a bad sector (read around it), a
// source that went away (stop everything), or anything else (this read fails).
enum class ReadFault { Medium, Lost, Other };
ReadFault ClassifyReadError(int errorNumber);

class FileStream : public Stream {
public:
    FileStream(const WString& path, int mode, int access);
    FileStream(const WString& path, OpenMode mode, OpenAccess access)
        : FileStream(path, static_cast<int>(mode), static_cast<int>(access)) {}
    // Takes over a descriptor already open (a file created relative to a
    // folder); `path` names it in messages.
    FileStream(int ownedDescriptor, WString path);
    ~FileStream() override;
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    int64_t Seek(int64_t offset, int origin) override;
    uint32_t Read(void* buffer, uint32_t count) override;
    void Write(const void* buffer, uint32_t count) override;
    int64_t Length() override;

    // Copies up to `count` bytes of `source`, from `sourceOffset`, to this
    // file's position inside the kernel, leaving `source` where it stands.
    // Returns the bytes moved (fewer only at the source's end), or nullopt
    // when the system cannot copy between these two files (use Read/Write).
    virtual std::optional<uint32_t> TransferFrom(FileStream& source, int64_t sourceOffset, uint32_t count);
    // Tests turn the in-kernel copy off to exercise the plain path.
    static void SetKernelCopyForTesting(bool enabled);

    // The logical position (what Seek(0, 1) reports).
    int64_t Position() const { return filePosition_ - static_cast<int64_t>(bufferEnd_ - bufferPos_); }

    uint32_t blockSize = 1;

    // Where offset 0 of the stream lies in the file: a volume inside a whole
    // card is read in its own offsets. Moves the stream to 0.
    void SetOrigin(uint64_t origin);
    uint64_t Origin() const { return static_cast<uint64_t>(origin_); }

    // Offsets from kCardWindow on read the file from its own start, whatever
    // the origin: the bytes of a whole card before its volume are reached
    // there, and what lies past them (the volume) follows on as in the file.
    static constexpr uint64_t kCardWindow = uint64_t{1} << 62;
    void OpenCardWindow();
    bool CardWindowOpen() const { return cardWindow_; }
    bool InCardWindow(uint64_t offset) const { return cardWindow_ && offset >= kCardWindow; }
    // Where a stream offset lies in the file.
    uint64_t FileOffset(uint64_t offset) const {
        return InCardWindow(offset) ? offset - kCardWindow : offset + static_cast<uint64_t>(origin_);
    }

    // Bytes of the file that could not be read; reads return zeros for them.
    // A read that fails on the medium is read again sector by sector (units of
    // blockSize, or 512 before it is set), so only the bad sectors are lost.
    const ByteRangeSet& Unreadable() const { return unreadable_; }
    // Takes bytes as unreadable before any read: an image whose imaging run
    // could not read them holds zeros there, which are no data.
    void MarkUnreadable(uint64_t start, uint64_t length) { unreadable_.Add(start, length); }
    const WString& Path() const { return path_; }

    // Every byte fetched from the file from now on is shown to `tee` (null: none).
    void SetReadTee(ReadTee* tee) { tee_ = tee; }
    // Reads of bytes `cache` holds are taken from it (null: always the file).
    void SetReadCache(ReadCache* cache) { cache_ = cache; }
    // Shows the tee the held read-ahead bytes from `from` on, when `from` is
    // one of them.
    void ReplayHeld(uint64_t from);
    // The caller's copy of the `count` bytes just read, ending where the
    // descriptor stands, becomes the read-ahead: seeks back into them (a
    // file found inside a scanned chunk) cost no second read of the card.
    void AdoptHeld(uint64_t offset, const uint8_t* bytes, size_t count);
    // The most AdoptHeld takes.
    static constexpr size_t kAdoptedMax = 1 << 20;

    // Once reads run on sequentially, the next window is fetched on a thread
    // of its own while the caller works (a card source; false when the file
    // cannot be opened a second time).
    bool EnableReadAhead();
    // Up to `count` bytes at `offset`, leaving the stream and its read-ahead
    // as they are: a look at the first bytes of a stretch the caller skips.
    // Nullopt where the stream cannot look without reading (no read-ahead
    // descriptor, or the read failed).
    std::optional<size_t> Peek(uint64_t offset, uint8_t* out, size_t count);
    // Nothing from stream offset `end` on is fetched ahead (UINT64_MAX: no limit).
    void LimitReadAhead(uint64_t end) {
        if (ahead_)
            ahead_->Limit(end == UINT64_MAX ? end : FileOffset(end));
    }
    // A source that gives a window faster than this gains nothing from reading
    // ahead (a cached image): the copy out of the window would only cost.
    static constexpr uint64_t kFastWindowNanos = 2'000'000;
    // Tests read cached images: they take every source as slow (0 restores the pace test).
    static void SetSlowSourceForTesting(bool always);
    // The run of sequential reads after which the next window is fetched ahead.
    static constexpr uint64_t kReadAheadAfter = 1 << 20;

    // Read-ahead size: large enough that byte-by-byte parsing costs no system call per byte.
    static constexpr size_t kBufferSize = 64 * 1024;

    // Test seams: how files are opened, and the pause between open retries.
    using OpenFunction = int (*)(const char* path, int flags, mode_t mode);
    static void SetOpenFunctionForTesting(OpenFunction function);
    // How descriptors are read and written (read(2)/write(2) semantics); null
    // restores the system's. Lets tests fail chosen reads and writes.
    using ReadFunction = ssize_t (*)(int fd, void* buffer, size_t count);
    using WriteFunction = ssize_t (*)(int fd, const void* buffer, size_t count);
    static void SetReadFunctionForTesting(ReadFunction function);
    static void SetWriteFunctionForTesting(WriteFunction function);
    static void SetOpenRetryDelayForTesting(std::chrono::milliseconds delay);

protected:
    // Every movement and read of the underlying file goes through these.
    virtual int64_t SystemSeek(int64_t offset, int whence);
    virtual ssize_t SystemRead(void* buffer, size_t count);

private:
    // SystemSeek in the stream's offsets (see SetOrigin).
    int64_t SourceSeek(int64_t offset, int whence);
    void DropBuffer();
    // Makes the read-ahead hold the last bytes of a read that bypassed it.
    void KeepTail(const uint8_t* bytes, size_t count);
    // Puts the descriptor at the logical position, before a write.
    void LeaveReadAhead();
    // The file's end, the descriptor left where it stood.
    int64_t EndOffset();
    uint32_t FillAndCopy(uint8_t* out, uint32_t count);
    size_t ReadFully(uint8_t* out, size_t count, bool& failed);
    size_t FetchFully(uint8_t* out, size_t count, bool& failed);
    size_t FetchFromFile(uint8_t* out, size_t count, bool& failed);
    // What the read-ahead holds or fetches of the next `count` bytes.
    size_t FetchAhead(uint8_t* out, size_t count);
    // Salvages what lies before salvageUntil_, then fetches the rest as usual.
    size_t FetchSalvaging(uint8_t* out, size_t count, bool& failed);
    void CountSequential(uint64_t fileOffset, size_t count);
    // Whether the source is slow enough that reading ahead keeps it busy.
    bool SlowSource() const;
    size_t TimedFetchFromFile(uint8_t* out, size_t count, bool& failed);
    // Reads `count` bytes at the descriptor's place piece by piece, zeros for
    // the pieces the medium cannot give; returns the bytes before the end.
    size_t SalvageRead(uint8_t* out, size_t count);
    // One piece at `position`: its byte count, or -1 for a bad sector (zeros
    // for the bytes of it before the source's end: their count, if fewer).
    ssize_t ReadPieceAt(int64_t position, uint8_t* out, size_t count);
    [[noreturn]] void RaiseReadFault(int error);

    int fd_ = -1;
    WString path_;
    ByteRangeSet unreadable_;
    int readError_ = 0;
    std::vector<uint8_t> buffer_;
    size_t bufferPos_ = 0;
    size_t bufferEnd_ = 0;
    int64_t filePosition_ = 0; // where the descriptor stands, in the stream's offsets
    int64_t origin_ = 0;
    std::unique_ptr<ReadAhead> ahead_;
    uint64_t sequentialEnd_ = 0; // file offset where the run of sequential reads stands
    uint64_t sequential_ = 0;
    // File offset up to which a window the read-ahead failed to fetch lies:
    // read whole again it would only fail again, slowly, so it is salvaged.
    uint64_t salvageUntil_ = 0;
    uint64_t windowNanos_ = 0; // the last large plain read's pace, per window
    ReadTee* tee_ = nullptr;
    ReadCache* cache_ = nullptr;
    bool cardWindow_ = false;
};

} // namespace AAA

namespace Restore {

struct JobProgress;

// A FileStream that moves the job's progress percent and turns the user's
// cancel request into CancellationException at every seek and write.
class ProgressFileStream : public AAA::FileStream {
public:
    using FileStream::FileStream;
    int64_t Seek(int64_t offset, int origin) override;
    void Write(const void* buffer, uint32_t count) override;
    std::optional<uint32_t> TransferFrom(FileStream& source, int64_t sourceOffset, uint32_t count) override;

private:
    JobProgress* BeforeWrite();
    void AfterWrite(JobProgress* job, uint32_t count);
};

} // namespace Restore
