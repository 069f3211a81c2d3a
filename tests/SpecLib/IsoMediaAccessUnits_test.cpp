// The video samples of an mdat without its tables: H.264 access units made
// of length-prefixed NAL units, with chunks of sound between them.
#include <gtest/gtest.h>

#include <algorithm>
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

std::string NonZero(std::mt19937& random, size_t count) {
    std::uniform_int_distribution<int> byte(1, 255);
    std::string bytes;
    for (size_t i = 0; i < count; ++i)
        bytes += static_cast<char>(byte(random));
    return bytes;
}

// A unit of `header` (a first slice of P, parameter set 0) holding `payload`.
std::string Unit(uint8_t header, const std::string& payload) {
    const std::string nal = static_cast<char>(header) + std::string(header == 0x65 ? "\x88\xC0" : "\xF7") + payload;
    std::string unit;
    for (int shift = 24; shift >= 0; shift -= 8)
        unit += static_cast<char>(nal.size() >> shift);
    return unit + nal;
}

// An IDR picture, then P pictures with sound between; what each sound chunk begins with is given.
Stream WithSound(std::mt19937& random, const std::string& idrPayload, const std::string& soundStart) {
    Stream stream;
    stream.bytes = NonZero(random, 4000);
    stream.samples.push_back({stream.bytes.size(), 0, true});
    stream.bytes += Unit(0x65, idrPayload);
    stream.samples.back().size = static_cast<uint32_t>(stream.bytes.size() - stream.samples.back().offset);
    stream.bytes += NonZero(random, 4000);
    for (int p = 0; p < 40; ++p) {
        const std::string unit = Unit(0x41, NonZero(random, 900 + random() % 200));
        stream.samples.push_back({stream.bytes.size(), static_cast<uint32_t>(unit.size()), false});
        stream.bytes += unit + soundStart + NonZero(random, 100);
    }
    return stream;
}

std::vector<FoundSample> Walk(const Stream& stream, uint8_t sliceKinds) {
    AAA::MemoryStream card(stream.bytes.data(), stream.bytes.size());
    Kalvory::NalUnits units = Units(64 << 10);
    units.sliceKinds = sliceKinds;
    return Kalvory::FindAccessUnits(card, 0, stream.bytes.size(), units);
}

bool Same(const std::vector<FoundSample>& found, const std::vector<FoundSample>& samples) {
    return std::equal(found.begin(), found.end(), samples.begin(), samples.end(),
                      [](const FoundSample& a, const FoundSample& b) { return a == b; });
}

TEST(IsoMediaAccessUnits, SoundThatBeginsLikeAPictureIsNoneWhenTheCameraNeverWritesSuchSlices) {
    std::mt19937 random(3);
    // A non-reference P slice as long as the sound chunk: sound of a sine starting at 0.
    const Stream stream = WithSound(random, NonZero(random, 3000), Unit(0x01, NonZero(random, 254)));
    const uint8_t camera = Kalvory::SliceKind(0x65) | Kalvory::SliceKind(0x41);
    EXPECT_TRUE(Same(Walk(stream, camera), stream.samples));
    EXPECT_GT(Walk(stream, 0).size(), stream.samples.size()) << "any slice may be the camera's";
}

TEST(IsoMediaAccessUnits, AStartInsideAPictureThatReadsOnPastTheNextStartIsNone) {
    std::mt19937 random(5);
    // In the IDR slice: what reads as a P slice 33 KB long, ending among the P pictures.
    std::string idr = NonZero(random, 20000);
    idr.replace(500, 6, std::string("\0\0\x82\x48\x41\xF7", 6));
    const Stream stream = WithSound(random, idr, "");
    EXPECT_TRUE(Same(Walk(stream, 0), stream.samples));
}

} // namespace
