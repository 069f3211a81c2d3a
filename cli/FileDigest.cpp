#include "FileDigest.h"

#include <fstream>
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

class Sha256 : public AAA::Digest {
public:
    Sha256() : context_(EVP_MD_CTX_new(), &EVP_MD_CTX_free) {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1)
            context_.reset();
    }
    void Update(const uint8_t* bytes, size_t count) override {
        if (context_)
            EVP_DigestUpdate(context_.get(), bytes, count);
    }
    std::string Final() override {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int length = 0;
        if (!context_ || EVP_DigestFinal_ex(context_.get(), digest, &length) != 1)
            return {};
        return Hex(digest, length);
    }

private:
    Context context_;
};

} // namespace

AAA::DigestMaker Sha256Digests() {
    return [] { return std::make_unique<Sha256>(); };
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
