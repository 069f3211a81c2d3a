// The report's SHA-256, hashed on threads beside the copy: files written one
// after another, their digests taken later or dropped unfinished, must each
// come out as a one-pass hash of their own bytes.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "FileDigest.h"
#include "support/TempDir.h"

namespace {

std::string OnePass(const std::string& bytes, const TestSupport::TempDir& dir) {
    const auto file = dir / "whole";
    TestSupport::WriteFileBytes(file, bytes);
    return KalvoryCli::FileSha256(file).value_or("unreadable");
}

struct Written {
    std::unique_ptr<AAA::Digest> digest;
    std::string bytes;
};

TEST(FileDigest, InterleavedFilesEachGetTheDigestOfTheirOwnBytes) {
    TestSupport::TempDir dir("kalvory-digest");
    EXPECT_EQ(OnePass("abc", dir), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    for (unsigned seed = 0; seed < 6; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        const AAA::DigestMaker digests = KalvoryCli::Sha256Digests();
        std::vector<Written> open;
        std::vector<std::pair<std::string, std::string>> done; // digest, bytes
        for (int step = 0; step < 60; ++step) {
            if (open.empty() || random() % 4 == 0)
                open.push_back({digests(), {}});
            Written& file = open[random() % open.size()];
            // Up to 1 MiB a piece: the queue's bound is met on larger seeds.
            std::string piece(random() % (seed < 3 ? 4096 : 1u << 20), '\0');
            for (char& byte : piece)
                byte = static_cast<char>(random());
            file.digest->Update(reinterpret_cast<const uint8_t*>(piece.data()), piece.size());
            file.bytes += piece;
            if (random() % 5 == 0) {
                const size_t which = random() % open.size();
                if (random() % 4 == 0)
                    open[which].digest.reset(); // given up: must not hold up the others
                else
                    done.emplace_back(open[which].digest->Final(), open[which].bytes);
                open.erase(open.begin() + static_cast<std::ptrdiff_t>(which));
            }
        }
        for (Written& file : open)
            done.emplace_back(file.digest->Final(), file.bytes);
        for (const auto& [digest, bytes] : done)
            EXPECT_EQ(digest, OnePass(bytes, dir)) << bytes.size() << " bytes";
    }
}

} // namespace
