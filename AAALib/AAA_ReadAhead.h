#pragma once
// A card reader idles while the reader of a sequential run works on what it
// was given: the next windows of the run are fetched on a thread of their
// own, through a descriptor of their own, so parsing, staging and hashing
// overlap the card's reading instead of adding to it.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace AAA {

class ReadAhead {
public:
    // `fd` is this object's own descriptor of the file (closed with it),
    // read with `read`, of read(2) semantics, after it is placed.
    using ReadFunction = ssize_t (*)(int fd, void* buffer, size_t count);
    ReadAhead(int fd, ReadFunction read);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Gives bytes from `offset` on out of fetched windows; with FetchOn it
    // fetches the windows that follow while it does (a sequential run), with
    // HeldOnly it gives what is held or on its way only. Returns how many;
    // fewer than `count` at the file's end, when a fetch failed, or with
    // HeldOnly where nothing more is held.
    enum class Then { FetchOn, HeldOnly };
    struct Failure {
        int error = 0;    // errno of a fetch that failed; 0: none
        uint64_t end = 0; // where its window ends: somewhere before lies what failed
    };
    size_t Read(uint64_t offset, uint8_t* out, size_t count, Failure& failure, Then then);
    // Whether a window holds `offset` or is on its way there.
    bool Holds(uint64_t offset);
    // Starts fetching from `offset` on unless that is held or on its way.
    void Want(uint64_t offset);
    // No window is fetched ahead from `end` on (UINT64_MAX: none held back):
    // a reader that knows it will pass over what lies there says so.
    void Limit(uint64_t end);

    // How long the last whole window took to fetch, in nanoseconds (0: none yet).
    uint64_t WindowNanos() const { return windowNanos_.load(std::memory_order_relaxed); }

    static constexpr size_t kWindow = 1 << 20;
    // Windows fetched ahead of the one being read: enough that a burst of
    // work on the caller's side leaves the card busy. One was too few: a
    // staged write into fresh pages can stall the caller for several ms.
    static constexpr int kAhead = 3;

private:
    enum class State { Empty, Wanted, Fetching, Ready, Failed };
    struct Buffer {
        void operator()(uint8_t* bytes) const { ::operator delete(bytes, std::align_val_t{kAlignment}); }
    };
    struct Window {
        State state = State::Empty;
        uint64_t start = 0;
        size_t length = 0; // Ready: the bytes held
        int error = 0;
        std::unique_ptr<uint8_t, Buffer> bytes;
        bool Holds(uint64_t offset) const { return state == State::Ready && offset >= start && offset < start + length; }
        bool Coming(uint64_t offset) const {
            return (state == State::Wanted || state == State::Fetching || state == State::Failed) && start == offset;
        }
        bool Busy() const { return state == State::Wanted || state == State::Fetching; }
    };
    // Page-aligned, so that a file system splits no request at a page boundary.
    static constexpr size_t kAlignment = 4096;
    static constexpr int kWindows = kAhead + 1;

    void Work();
    int Fetch(Window& window, size_t& got);
    Window* Existing(uint64_t offset);
    // A window that is free for another fetch: one holding nothing of use
    // from `offset` on, or with Any, any one the worker does not hold.
    enum class Evict { Stale, Any };
    Window* Spare(uint64_t offset, Evict evict);
    // The window holding `offset` or on its way there, started if there is none.
    Window& WindowFor(uint64_t offset, std::unique_lock<std::mutex>& lock);
    void Start(Window& window, uint64_t offset);
    void WantAfter(const Window& window);

    int fd_;
    ReadFunction read_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Window windows_[kWindows];
    bool stopping_ = false;
    uint64_t limit_ = UINT64_MAX;
    std::atomic<uint64_t> windowNanos_{0};
    std::thread worker_;
};

} // namespace AAA
