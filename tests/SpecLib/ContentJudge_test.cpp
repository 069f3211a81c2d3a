// A file's data is judged by its kind's check: intact files pass whole, and a
// file whose clusters hold other data from some offset on is caught no later
// than there.
#include <gtest/gtest.h>

#include <random>

#include "AAA_Stream.h"
#include "ContentJudge.h"
#include "support/MediaSamples.h"

namespace {

using FSAccessLib::DirEntry;
using Kalvory::ContentCheck;

constexpr uint64_t kCluster = 512;
constexpr uint64_t kSourcePacket = 192;

void PutLe32(std::string& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * i));
}

std::string Chunk(const std::string& id, const std::string& body) {
    std::string chunk = id + std::string(4, '\0') + body;
    PutLe32(chunk, 4, static_cast<uint32_t>(body.size()));
    return body.size() % 2 ? chunk + '\0' : chunk;
}

// An AVI of `frames` video chunks of seeded sizes, then an OpenDML "AVIX" part.
std::string Avi(uint32_t seed, int frames) {
    std::mt19937 random(seed);
    std::string movi = "movi";
    for (int i = 0; i < frames; ++i)
        movi += Chunk("00dc", TestSupport::MediaShaped("F.BIN", 100 + random() % 900, seed + i));
    const std::string body = "AVI " + Chunk("LIST", "hdrl" + Chunk("avih", std::string(56, '\1'))) +
                             Chunk("JUNK", std::string(301, '\0')) + Chunk("LIST", movi);
    const std::string extra = "AVIX" + Chunk("LIST", "movi" + Chunk("00dc", std::string(777, '\2')));
    return Chunk("RIFF", body) + Chunk("RIFF", extra);
}

std::string Bitmap(size_t size) {
    std::string bytes = TestSupport::MediaShaped("I.BIN", size, 5);
    bytes.replace(0, 2, "BM");
    PutLe32(bytes, 2, static_cast<uint32_t>(size));
    PutLe32(bytes, 6, 0);
    return bytes;
}

struct Kind {
    const char* name;
    ContentCheck check;
    std::string (*make)(uint32_t seed);
};

const Kind kKinds[] = {
    {"IMGA0001.JPG", ContentCheck::Jpeg, [](uint32_t seed) { return TestSupport::ExifJpeg(3000 + seed * 977 % 20000, seed); }},
    {"00000.MTS", ContentCheck::Stream, [](uint32_t seed) { return TestSupport::StreamBytes(192 * (20 + seed * 37 % 200) + seed % 3, seed); }},
    {"CLIP.AVI", ContentCheck::Riff, [](uint32_t seed) { return Avi(seed, 5 + static_cast<int>(seed % 20)); }},
    {"ICON.BMP", ContentCheck::Bitmap, [](uint32_t seed) { return Bitmap(200 + seed * 31 % 4000); }},
    {"00000.CPI", ContentCheck::Management, [](uint32_t seed) { return TestSupport::ManagementFile("HDMV", 24, 60 + seed % 40, 100 + seed); }},
};

// The file on a volume in two extents with foreign bytes between, as a
// deleted file read around a live one.
struct Placed {
    AAA::MemoryStream volume;
    DirEntry entry;
};

Placed Place(const std::string& name, const std::string& file, uint64_t split) {
    std::string volume(4 * kCluster, '\x33');
    const uint64_t first = volume.size();
    volume += file.substr(0, split) + std::string(3 * kCluster, '\x44');
    const uint64_t second = first + split + 3 * kCluster;
    volume += file.substr(split) + std::string(kCluster, '\0');
    Placed placed{AAA::MemoryStream(volume.data(), volume.size()), DirEntry("", "")};
    placed.entry.name = AAA::FromUtf8(name);
    placed.entry.start = first;
    placed.entry.length = file.size();
    placed.entry.deleted = true;
    placed.entry.chain.emplace_back(first, split, &placed.entry);
    placed.entry.chain.emplace_back(second, file.size() - split, &placed.entry);
    return placed;
}

TEST(ContentJudge, IntactFilesPassAndOverwrittenOnesAreCaughtNoLaterThanTheForeignData) {
    std::vector<uint8_t> buffer;
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        for (const Kind& kind : kKinds) {
            std::mt19937 random(seed);
            const std::string file = kind.make(seed);
            const uint64_t split = file.size() / kCluster > 1 ? (1 + random() % (file.size() / kCluster - 1)) * kCluster : 0;
            const std::string what = std::string(kind.name) + " seed " + std::to_string(seed);
            ASSERT_EQ(Kalvory::CheckFor(AAA::FromUtf8(kind.name)), kind.check) << what;

            Placed intact = Place(kind.name, file, split);
            EXPECT_EQ(Kalvory::MatchingBytes(intact.volume, intact.entry, buffer), file.size()) << what;

            // From a cluster on, another file's data (another kind, or zeros).
            // The BMP and management checks read the headers alone.
            const bool headersOnly = kind.check == ContentCheck::Bitmap || kind.check == ContentCheck::Management;
            const uint64_t from = headersOnly ? 0 : random() % (file.size() / kCluster + 1) * kCluster;
            if (kind.check == ContentCheck::Stream && from + kSourcePacket > file.size())
                continue; // a cut last packet is not judged
            std::string foreign = random() % 2 ? std::string(file.size(), '\0')
                                               : kKinds[(&kind - kKinds + 1) % std::size(kKinds)].make(seed + 100);
            foreign.resize(file.size(), '\0');
            const std::string damaged = file.substr(0, from) + foreign.substr(from);
            if (damaged == file)
                continue;
            Placed overwritten = Place(kind.name, damaged, split);
            const uint64_t matching = Kalvory::MatchingBytes(overwritten.volume, overwritten.entry, buffer);
            // Chunk sizes see foreign data where a chunk header lies in it: the
            // last chunk (777 bytes and a pad byte) has none after it.
            const bool seen = kind.check != ContentCheck::Riff || from + 8 + 778 <= file.size();
            if (seen) {
                EXPECT_LT(matching, file.size()) << what << " overwritten from " << from;
            }
            if (matching == file.size())
                continue;
            // A stream packet begun before the foreign data is judged by its header.
            const uint64_t slack = kind.check == ContentCheck::Stream ? kSourcePacket - 1 : 0;
            EXPECT_LE(matching, from + slack) << what << " overwritten from " << from;
        }
    }
}

TEST(ContentJudge, KindsWithoutACheckAndLiveFilesAreNotJudged) {
    std::vector<uint8_t> buffer;
    Placed text = Place("NOTES.TXT", std::string(3000, '\0'), kCluster);
    EXPECT_EQ(Kalvory::CheckFor(u"NOTES.TXT"), ContentCheck::None);
    EXPECT_EQ(Kalvory::MatchingBytes(text.volume, text.entry, buffer), 3000u);
    EXPECT_EQ(Kalvory::CheckFor(u"imga0001.jpg"), ContentCheck::Jpeg) << "extensions in any case";

    DirEntry live("", "");
    live.name = u"IMGA0001.JPG";
    EXPECT_FALSE(Kalvory::JudgedByContent(live));
    live.unallocated = true;
    EXPECT_TRUE(Kalvory::JudgedByContent(live)) << "an exFAT set whose in-use bit is clear";
    DirEntry found = live;
    found.unallocated = false;
    found.fromFoundFolder = true;
    EXPECT_TRUE(Kalvory::JudgedByContent(found));
}

TEST(ContentJudge, AJpegOverwrittenInItsScanIsCaughtAtTheLastRestartMarkerBeforeTheForeignData) {
    std::vector<uint8_t> buffer;
    const std::string file = TestSupport::ExifJpeg(40000, 9); // a restart marker every 4 KiB of scan
    const uint64_t from = 20 * kCluster;
    const std::string damaged = file.substr(0, from) + TestSupport::StreamBytes(file.size() - from, 3);
    Placed overwritten = Place("IMGA0001.JPG", damaged, 10 * kCluster);
    const uint64_t matching = Kalvory::MatchingBytes(overwritten.volume, overwritten.entry, buffer);
    EXPECT_LE(matching, from);
    EXPECT_GT(matching, from - 4096 - 2) << "the restart markers vouch for the scan up to the last one";
}

} // namespace
