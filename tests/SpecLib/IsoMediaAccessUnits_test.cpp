// The video samples of an mdat without its tables: H.264 access units made
// of length-prefixed NAL units, with chunks of sound between them.
#include <gtest/gtest.h>

#include <random>

#include "ISOBMFF_AccessUnits.h"

namespace {

using Kalvory::FoundSample;

struct Stream {
    std::string bytes;
    std::vector<FoundSample> samples;
};

// A NAL unit: its 4-byte length, its header, and a slice's first byte after
// it: first_mb_in_slice 0, the slice type, I (7) in an IDR picture, P (5)
// else, and parameter set 0; an SEI ends in its stop bit. The payload holds emulation-prevented
// zeros, which read like the length of a unit of 768 to 1023 bytes.
void PutNal(std::string& out, std::mt19937& random, uint8_t header, bool firstSlice, size_t payload) {
    std::string nal(1, static_cast<char>(header));
    nal += !firstSlice ? std::string("\x1C") : (header & 0x1F) == 5 ? std::string("\x88\xC0") : std::string("\x9A");
    std::uniform_int_distribution<int> byte(1, 255);
    for (size_t i = 0; i < payload; ++i)
        nal += random() % 1000 == 0 ? std::string("\0\0\3", 3) + static_cast<char>(random() % 6 == 0 ? 0x65 : byte(random))
                                  : std::string(1, static_cast<char>(byte(random)));
    if ((header & 0x1F) == 6)
        nal += '\x80';
    for (int shift = 24; shift >= 0; shift -= 8)
        out += static_cast<char>(nal.size() >> shift);
    out += nal;
}

// Pictures of one or more slices (an IDR every twelfth, SEI before some),
// with a chunk of sound after some of them.
Stream MakeStream(uint32_t seed, int pictures) {
    std::mt19937 random(seed);
    Stream stream;
    std::uniform_int_distribution<int> soundByte(1, 255);
    for (int p = 0; p < pictures; ++p) {
        const bool idr = p % 12 == 0;
        const size_t at = stream.bytes.size();
        if (idr || random() % 4 == 0)
            PutNal(stream.bytes, random, 0x06, false, 5 + random() % 30);
        const int slices = 1 + static_cast<int>(random() % 3);
        for (int s = 0; s < slices; ++s)
            PutNal(stream.bytes, random, idr ? 0x65 : (random() % 2 ? 0x41 : 0x01), s == 0, 20 + random() % 3000);
        stream.samples.push_back({at, static_cast<uint32_t>(stream.bytes.size() - at), idr});
        // Sound with zeros, but never two in a row: no 4-byte length it
        // holds is as short as a unit of the test's. (Sound whose zeros run
        // can read as video; the walk's checks make that rare, not impossible.)
        for (size_t n = random() % 3 == 0 ? 0 : 50 + random() % 600; n > 0; --n)
            stream.bytes += random() % 4 == 0 && stream.bytes.back() != '\0' ? '\0' : static_cast<char>(soundByte(random));
    }
    return stream;
}

Kalvory::NalUnits Units(uint32_t longest) {
    Kalvory::NalUnits units;
    units.longest = longest;
    return units;
}

bool operator==(const FoundSample& a, const FoundSample& b) {
    return a.offset == b.offset && a.size == b.size && a.sync == b.sync;
}

TEST(IsoMediaAccessUnits, EveryPictureIsOneSampleWhateverLiesBetween) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Stream stream = MakeStream(seed, 60);
        // Sound may come first too.
        const std::string lead(seed % 2 ? 0 : 300, '\x21');
        const std::string bytes = lead + stream.bytes;
        AAA::MemoryStream card(bytes.data(), bytes.size());
        for (FoundSample& sample : stream.samples)
            sample.offset += lead.size();
        const std::vector<FoundSample> found = Kalvory::FindAccessUnits(card, 0, bytes.size(), Units(64 << 10));
        ASSERT_EQ(found.size(), stream.samples.size()) << "seed " << seed;
        for (size_t i = 0; i < found.size(); ++i)
            ASSERT_TRUE(found[i] == stream.samples[i]) << "seed " << seed << ", sample " << i << " at " << found[i].offset
                                                       << "+" << found[i].size << " for " << stream.samples[i].offset
                                                       << "+" << stream.samples[i].size;
    }
}

TEST(IsoMediaAccessUnits, TheSamplesEndWhereTheVideoDataDoes) {
    const Stream stream = MakeStream(7, 20);
    // Zeros after the last unit; then the end given cutting the last one.
    const std::string bytes = stream.bytes + std::string(4096, '\0');
    AAA::MemoryStream card(bytes.data(), bytes.size());
    const std::vector<FoundSample> all = Kalvory::FindAccessUnits(card, 0, bytes.size(), Units(64 << 10));
    ASSERT_EQ(all.size(), stream.samples.size());
    const FoundSample& last = stream.samples.back();
    const std::vector<FoundSample> cut = Kalvory::FindAccessUnits(card, 0, last.offset + last.size - 1, Units(64 << 10));
    // The last picture keeps the slices before its cut one, if any.
    ASSERT_GE(cut.size(), stream.samples.size() - 1);
    EXPECT_LT(cut.back().offset + cut.back().size, last.offset + last.size - 1);
    // Units longer than the camera writes are not taken for video.
    EXPECT_TRUE(Kalvory::FindAccessUnits(card, 0, bytes.size(), Units(16)).empty());
}

} // namespace
