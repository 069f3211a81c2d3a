#pragma once
// A digest of the bytes a recovery writes, computed as they are written. The
// front ends supply the algorithm (the engine names none).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace AAA {

class Digest {
public:
    virtual ~Digest() = default;
    virtual void Update(const uint8_t* bytes, size_t count) = 0;
    // Lowercase hex of everything updated so far; the digest is spent after.
    virtual std::string Final() = 0;
};

using DigestMaker = std::function<std::unique_ptr<Digest>()>;

} // namespace AAA
