#include "FileDigest.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <thread>
#include <memory>
#include <openssl/evp.h>
#include <vector>

namespace KalvoryCli {
namespace {

std::string Hex(const unsigned char* digest, unsigned int length) {
    static const char kHex[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex += kHex[digest[i] >> 4];
        hex += kHex[digest[i] & 15];
    }
    return hex;
}

using Context = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

// Hashes on threads of their own, so that a copy reads and writes while what
// it wrote is hashed. One thread per core: SHA-256 runs slower than a cached
// copy, so the next file is hashed beside the last one's tail. A context's
// pieces are hashed in order, by one thread at a time.
class HashPool {
public:
    HashPool() {
        const unsigned cores = std::max(1u, std::min(kThreads, std::thread::hardware_concurrency()));
        for (unsigned i = 0; i < cores; ++i)
            threads_.emplace_back([this] { Work(); });
    }
    ~HashPool() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& thread : threads_)
            thread.join();
    }
    HashPool(const HashPool&) = delete;
    HashPool& operator=(const HashPool&) = delete;

    void Add(EVP_MD_CTX* context, const uint8_t* bytes, size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        // Memory stays bounded, and so does the queue a thread looks through.
        changed_.wait(lock, [&] { return queued_ < kQueuedBytes && tasks_.size() < kQueuedTasks; });
        // Small pieces (a fragmented file's clusters) join the one before.
        if (!tasks_.empty() && tasks_.back().context == context && tasks_.back().bytes.size() < kJoinedBytes) {
            tasks_.back().bytes.insert(tasks_.back().bytes.end(), bytes, bytes + count);
            queued_ += count;
            return;
        }
        std::vector<uint8_t> piece;
        if (!spare_.empty()) {
            piece = std::move(spare_.back());
            spare_.pop_back();
        }
        piece.assign(bytes, bytes + count);
        queued_ += count;
        tasks_.push_back({context, std::move(piece)});
        changed_.notify_all();
    }
    // Returns once everything added for `context` so far is hashed.
    void Drain(const EVP_MD_CTX* context) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return !Pending(context); });
    }

private:
    struct Task {
        EVP_MD_CTX* context;
        std::vector<uint8_t> bytes;
    };
    static constexpr size_t kQueuedBytes = 8u << 20;
    static constexpr size_t kQueuedTasks = 64;
    static constexpr size_t kJoinedBytes = 256u << 10;
    static constexpr unsigned kThreads = 4;

    bool InHand(const EVP_MD_CTX* context) const {
        return std::find(inHand_.begin(), inHand_.end(), context) != inHand_.end();
    }
    bool Pending(const EVP_MD_CTX* context) const {
        return InHand(context) ||
               std::any_of(tasks_.begin(), tasks_.end(), [&](const Task& task) { return task.context == context; });
    }
    // The oldest piece of a context no other thread is hashing.
    std::deque<Task>::iterator NextFree() {
        return std::find_if(tasks_.begin(), tasks_.end(), [&](const Task& task) { return !InHand(task.context); });
    }

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || NextFree() != tasks_.end(); });
            const auto next = NextFree();
            if (next == tasks_.end())
                return; // stopping, and nothing is left that this thread may take
            Task task = std::move(*next);
            tasks_.erase(next);
            inHand_.push_back(task.context);
            lock.unlock();
            EVP_DigestUpdate(task.context, task.bytes.data(), task.bytes.size());
            lock.lock();
            inHand_.erase(std::find(inHand_.begin(), inHand_.end(), task.context));
            queued_ -= task.bytes.size();
            if (spare_.size() < 4)
                spare_.push_back(std::move(task.bytes));
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    std::vector<const EVP_MD_CTX*> inHand_;
    std::vector<std::vector<uint8_t>> spare_;
    size_t queued_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

class Sha256 : public AAA::Digest {
public:
    explicit Sha256(std::shared_ptr<HashPool> pool)
        : pool_(std::move(pool)), context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            context_.reset();
    }
    ~Sha256() override { pool_->Drain(context_.get()); } // the pool must be done with the context
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const uint8_t* bytes, size_t count) override {
        if (context_ && count > 0)
            pool_->Add(context_.get(), bytes, count);
    }
    std::string Final() override {
        pool_->Drain(context_.get());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!context_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1)
            return {};
        return Hex(digest, length);
    }

private:
    std::shared_ptr<HashPool> pool_;
    Context context_;
};

} // namespace

AAA::DigestMaker Sha256Digests() {
    auto pool = std::make_shared<HashPool>();
    return [pool] { return std::make_unique<Sha256>(pool); };
}

std::optional<std::string> FileSha256(const std::filesystem::path& file, const std::function<bool(uint64_t)>& progress) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    const Context context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        return std::nullopt;
    std::vector<char> piece(1 << 20);
    uint64_t done = 0;
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        const auto got = static_cast<size_t>(in.gcount());
        if (got == 0)
            break;
        EVP_DigestUpdate(context.get(), piece.data(), got);
        done += got;
        if (progress && !progress(done))
            return std::nullopt;
    }
    if (in.bad())
        return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    return Hex(digest, length);
}

} // namespace KalvoryCli
