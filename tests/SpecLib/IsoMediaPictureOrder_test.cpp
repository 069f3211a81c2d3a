// The order of display of pictures stored in decode order: B pictures come
// after the picture they are shown before. Their slice headers' order count
// bits (few, so that they wrap) give it back.
#include <gtest/gtest.h>

#include <random>

#include "ISOBMFF_PictureOrder.h"

namespace {

class BitWriter {
public:
    void Put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            bits.push_back(((value >> i) & 1) != 0);
    }
    void Ue(uint32_t value) {
        const uint32_t code = value + 1;
        int length = 0;
        while ((code >> length) > 1)
            ++length;
        Put(0, length);
        Put(code, length + 1);
    }
    std::string Bytes() const {
        std::string out((bits.size() + 8) / 8, '\0');
        for (size_t i = 0; i < bits.size(); ++i)
            out[i / 8] = static_cast<char>(out[i / 8] | (bits[i] ? 0x80 >> (i % 8) : 0));
        out[bits.size() / 8] = static_cast<char>(out[bits.size() / 8] | (0x80 >> (bits.size() % 8))); // stop bit
        return out;
    }
    std::vector<bool> bits;
};

constexpr int kLsbBits = 4; // the count wraps at 16: every eight pictures

// A baseline sequence parameter set: frame numbers and order count low bits of 4 bits each.
std::string Sequence() {
    BitWriter w;
    w.Put(66, 8);
    w.Put(0, 8);
    w.Put(30, 8);
    w.Ue(0);             // id
    w.Ue(0);             // frame number bits - 4
    w.Ue(0);             // order count type
    w.Ue(kLsbBits - 4);  // its low bits - 4
    w.Ue(2);             // reference frames
    w.Put(0, 1);
    w.Ue(5);             // width, height
    w.Ue(3);
    w.Put(1, 1);         // frames only
    return "\x67" + w.Bytes();
}

std::string Picture(bool idr, bool reference, uint32_t frameNumber, uint32_t count) {
    BitWriter w;
    w.Ue(0);
    w.Ue(idr ? 7 : reference ? 5 : 6);
    w.Ue(0);
    w.Put(frameNumber % 16, 4);
    if (idr)
        w.Ue(0);
    w.Put(count % (1u << kLsbBits), kLsbBits);
    const std::string nal = static_cast<char>(idr ? 0x65 : reference ? 0x41 : 0x01) + w.Bytes() + std::string(20, '\x55');
    std::string unit;
    for (int shift = 24; shift >= 0; shift -= 8)
        unit += static_cast<char>(nal.size() >> shift);
    return unit + nal;
}

TEST(IsoMediaPictureOrder, TheOffsetsShowThePicturesInTheirOrder) {
    const std::string sps = Sequence();
    const auto sequence = Kalvory::AvcSequenceOf(reinterpret_cast<const uint8_t*>(sps.data()), sps.size());
    ASSERT_TRUE(sequence);
    EXPECT_EQ(sequence->orderCountLsbBits, 4u);
    EXPECT_EQ(sequence->frameNumBits, 4u);
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        std::mt19937 random(seed);
        // In display order: an IDR now and then, runs of up to three B pictures before each P.
        std::string bytes;
        std::vector<Kalvory::FoundSample> samples;
        std::vector<size_t> shownAt; // display index of each stored picture
        size_t shown = 0;
        uint32_t frameNumber = 0, count = 0;
        const auto store = [&](bool idr, bool reference, size_t display, uint32_t order) {
            samples.push_back({bytes.size(), 0, idr});
            bytes += Picture(idr, reference, frameNumber, order);
            samples.back().size = static_cast<uint32_t>(bytes.size() - samples.back().offset);
            shownAt.push_back(display);
            frameNumber += reference;
        };
        while (shown < 60) {
            if (samples.empty() || random() % 10 == 0) {
                frameNumber = count = 0;
                store(true, true, shown++, 0);
                continue;
            }
            const size_t bs = random() % 4;
            // The P picture after the B pictures shown before it, stored first.
            store(false, true, shown + bs, count + 2 * uint32_t(bs + 1));
            for (size_t b = 0; b < bs; ++b)
                store(false, false, shown + b, count + 2 * uint32_t(b + 1));
            shown += bs + 1;
            count += 2 * uint32_t(bs + 1);
        }
        AAA::MemoryStream stream(bytes.data(), bytes.size());
        constexpr uint32_t kDelta = 512;
        const auto offsets = Kalvory::CompositionOffsets(stream, samples, 4, *sequence, kDelta);
        ASSERT_TRUE(offsets) << "seed " << seed;
        ASSERT_EQ(offsets->size(), samples.size());
        // Shown at decode time plus offset: the display order, a picture apart, from a common start.
        const int64_t start = int64_t{(*offsets)[0]} - int64_t(shownAt[0]) * kDelta;
        EXPECT_EQ(*std::min_element(offsets->begin(), offsets->end()), 0u) << "seed " << seed;
        for (size_t i = 0; i < samples.size(); ++i)
            ASSERT_EQ(int64_t(i) * kDelta + (*offsets)[i] - start, int64_t(shownAt[i]) * kDelta)
                << "seed " << seed << ", picture " << i;
    }
}

TEST(IsoMediaPictureOrder, OrderCountsOfAnotherTypeAreNotRead) {
    BitWriter w;
    w.Put(66, 8);
    w.Put(0, 16);
    w.Ue(0);
    w.Ue(0);
    w.Ue(1); // type 1: counts from the frame numbers
    const std::string sps = "\x67" + w.Bytes() + std::string(8, '\0');
    EXPECT_FALSE(Kalvory::AvcSequenceOf(reinterpret_cast<const uint8_t*>(sps.data()), sps.size()));
    const std::string pps = "\x68" + w.Bytes();
    EXPECT_FALSE(Kalvory::AvcSequenceOf(reinterpret_cast<const uint8_t*>(pps.data()), pps.size()));
}

} // namespace
