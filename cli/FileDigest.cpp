#include "FileDigest.h"

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

// Hashes on a thread of its own, so that a copy reads and writes while the
// previous piece is hashed: the digest costs the copy no time of its own.
class HashWorker {
public:
    HashWorker() : thread_([this] { Work(); }) {}
    ~HashWorker() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    HashWorker(const HashWorker&) = delete;
    HashWorker& operator=(const HashWorker&) = delete;

    void Add(EVP_MD_CTX* context, const uint8_t* bytes, size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return queued_ < kQueuedBytes; }); // memory stays bounded
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
    // Returns once everything added so far is hashed.
    void Drain() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return tasks_.empty() && !busy_; });
    }

private:
    struct Task {
        EVP_MD_CTX* context;
        std::vector<uint8_t> bytes;
    };
    static constexpr size_t kQueuedBytes = 8u << 20;

    void Work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty())
                return;
            Task task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
            lock.unlock();
            EVP_DigestUpdate(task.context, task.bytes.data(), task.bytes.size());
            lock.lock();
            busy_ = false;
            queued_ -= task.bytes.size();
            if (spare_.size() < 4)
                spare_.push_back(std::move(task.bytes));
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Task> tasks_;
    std::vector<std::vector<uint8_t>> spare_;
    size_t queued_ = 0;
    bool busy_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

class Sha256 : public AAA::Digest {
public:
    explicit Sha256(std::shared_ptr<HashWorker> worker)
        : worker_(std::move(worker)), context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            context_.reset();
    }
    ~Sha256() override { worker_->Drain(); } // the worker must be done with the context
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    void Update(const uint8_t* bytes, size_t count) override {
        if (context_ && count > 0)
            worker_->Add(context_.get(), bytes, count);
    }
    std::string Final() override {
        worker_->Drain();
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!context_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1)
            return {};
        return Hex(digest, length);
    }

private:
    std::shared_ptr<HashWorker> worker_;
    Context context_;
};

} // namespace

AAA::DigestMaker Sha256Digests() {
    auto worker = std::make_shared<HashWorker>();
    return [worker] { return std::make_unique<Sha256>(worker); };
}

std::optional<std::string> FileSha256(const std::filesystem::path& file, const std::function<bool(uint64_t)>& progress) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
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
