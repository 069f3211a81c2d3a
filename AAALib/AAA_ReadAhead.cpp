#include "AAA_ReadAhead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unistd.h>

namespace AAA {

ReadAhead::ReadAhead(int fd, ReadFunction read) : fd_(fd), read_(read) {}

ReadAhead::~ReadAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable())
        worker_.join();
    ::close(fd_);
}

void ReadAhead::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Window* wanted = nullptr;
        changed_.wait(lock, [&] {
            wanted = nullptr;
            for (Window& window : windows_)
                if (window.state == State::Wanted && (wanted == nullptr || window.start < wanted->start))
                    wanted = &window;
            return stopping_ || wanted != nullptr;
        });
        if (stopping_)
            return;
        wanted->state = State::Fetching;
        lock.unlock();
        size_t got = 0;
        const auto began = std::chrono::steady_clock::now();
        const int error = Fetch(*wanted, got); // the window's bytes are the worker's alone while it fetches
        if (error == 0 && got == kWindow)
            windowNanos_.store(static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                         std::chrono::steady_clock::now() - began)
                                                         .count()),
                               std::memory_order_relaxed);
        lock.lock();
        wanted->length = got;
        wanted->error = error;
        wanted->state = error != 0 ? State::Failed : State::Ready;
        if (error != 0)
            for (Window& window : windows_)
                if (window.state == State::Wanted)
                    window.state = State::Empty; // the card is failing here: the caller reads on itself
        changed_.notify_all();
    }
}

int ReadAhead::Fetch(Window& window, size_t& got) {
    if (!window.bytes)
        window.bytes.reset(static_cast<uint8_t*>(::operator new(kWindow, std::align_val_t{kAlignment})));
    if (::lseek(fd_, static_cast<off_t>(window.start), SEEK_SET) < 0)
        return errno;
    while (got < kWindow) {
        const ssize_t n = read_(fd_, window.bytes.get() + got, kWindow - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        if (n == 0)
            break; // the file's end
        got += static_cast<size_t>(n);
    }
    return 0;
}

void ReadAhead::Start(Window& window, uint64_t offset) {
    window.state = State::Wanted;
    window.start = offset;
    window.length = 0;
    if (!worker_.joinable())
        worker_ = std::thread([this] { Work(); });
    changed_.notify_all();
}

ReadAhead::Window* ReadAhead::Existing(uint64_t offset) {
    for (Window& window : windows_)
        if (window.Holds(offset) || window.Coming(offset))
            return &window;
    return nullptr;
}

ReadAhead::Window* ReadAhead::Spare(uint64_t offset, Evict evict) {
    Window* idle = nullptr;
    for (Window& window : windows_) {
        if (window.Busy())
            continue;
        // A failed window is kept, as a held one is, until the caller has met its fault.
        const bool kept = window.state == State::Ready || window.state == State::Failed;
        const bool behind = window.start + (window.state == State::Failed ? kWindow : window.length) <= offset;
        const bool far = window.start >= offset + (kAhead + 1) * kWindow;
        if (!kept || behind || far)
            return &window;
        idle = &window;
    }
    return evict == Evict::Any ? idle : nullptr;
}

ReadAhead::Window& ReadAhead::WindowFor(uint64_t offset, std::unique_lock<std::mutex>& lock) {
    Window* window = Existing(offset);
    if (window == nullptr) {
        // A window fetching elsewhere is the worker's until it is done.
        changed_.wait(lock, [&] { return (window = Existing(offset)) != nullptr || Spare(offset, Evict::Any) != nullptr; });
        if (window == nullptr) {
            window = Spare(offset, Evict::Any);
            Start(*window, offset);
        }
    }
    return *window;
}

void ReadAhead::WantAfter(const Window& window) {
    uint64_t next = window.start + window.length;
    for (int i = 0; i < kAhead && window.length == kWindow && next < limit_; ++i, next += kWindow) {
        if (const Window* existing = Existing(next)) {
            if (existing->state == State::Failed)
                return; // nothing is fetched past a fault
            continue;
        }
        Window* spare = Spare(window.start, Evict::Stale);
        if (spare == nullptr || spare == &window)
            return;
        Start(*spare, next);
    }
}

bool ReadAhead::Holds(uint64_t offset) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return Existing(offset) != nullptr;
}

void ReadAhead::Limit(uint64_t end) {
    const std::lock_guard<std::mutex> lock(mutex_);
    limit_ = end;
}

void ReadAhead::Want(uint64_t offset) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (offset >= limit_ || Existing(offset) != nullptr)
        return;
    if (Window* spare = Spare(offset, Evict::Stale))
        Start(*spare, offset);
}

size_t ReadAhead::Read(uint64_t offset, uint8_t* out, size_t count, Failure& failure, Then then) {
    failure = {};
    std::unique_lock<std::mutex> lock(mutex_);
    size_t done = 0;
    while (done < count) {
        const uint64_t at = offset + done;
        if (then == Then::HeldOnly && Existing(at) == nullptr)
            break;
        Window& window = WindowFor(at, lock);
        changed_.wait(lock, [&window] { return !window.Busy(); });
        if (window.state == State::Failed) {
            failure = {window.error, window.start + kWindow};
            window.state = State::Empty; // the caller reads it itself, and meets the fault its own way
            break;
        }
        if (!window.Holds(at))
            break; // the file's end
        if (then == Then::FetchOn)
            WantAfter(window); // the card reads on while the caller takes these
        const uint64_t end = window.start + window.length;
        const auto n = static_cast<size_t>(std::min<uint64_t>(count - done, end - at));
        std::memcpy(out + done, window.bytes.get() + (at - window.start), n);
        done += n;
    }
    return done;
}

} // namespace AAA
