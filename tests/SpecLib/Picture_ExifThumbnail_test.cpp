// The Exif thumbnail's place: found in either byte order, and never a range
// outside the bytes given, however the segment is cut or garbled.
#include <gtest/gtest.h>

#include <random>

#include "Picture_ExifThumbnail.h"
#include "support/ExifSegment.h"

namespace {

using TestSupport::TiffOrder;

const std::string kThumbnail = std::string("\xFF\xD8\xFF\xDB", 4) + std::string(300, 'T') + "\xFF\xD9";
const std::string kPicture = std::string("\xFF\xD8\xFF\xDB\x00\x04\x01\x02", 8) + std::string(2000, 'P') + "\xFF\xD9";

std::optional<AAA::ByteRange> Find(const std::string& bytes) {
    return Kalvory::FindExifThumbnail(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

TEST(ExifThumbnail, IsFoundInBothByteOrdersAfterOtherSegments) {
    for (TiffOrder order : {TiffOrder::Little, TiffOrder::Big}) {
        const std::string still = TestSupport::WithExifThumbnail(kPicture, kThumbnail, order);
        const auto found = Find(still);
        ASSERT_TRUE(found);
        EXPECT_EQ(still.substr(found->start, found->length), kThumbnail);
        // A JFIF segment before the Exif one is stepped over.
        const std::string jfif = std::string("\xFF\xE0\x00\x10JFIF\0", 9) + std::string(9, '\0');
        const std::string both = still.substr(0, 2) + jfif + still.substr(2);
        const auto after = Find(both);
        ASSERT_TRUE(after);
        EXPECT_EQ(both.substr(after->start, after->length), kThumbnail);
    }
}

TEST(ExifThumbnail, IsNoneWithoutAnExifSegmentOrAThumbnailThere) {
    EXPECT_FALSE(Find(kPicture));
    EXPECT_FALSE(Find(std::string()));
    std::string notJpeg = TestSupport::WithExifThumbnail(kPicture, kThumbnail);
    notJpeg[1] = '\xD9';
    EXPECT_FALSE(Find(notJpeg));
    // The offset names bytes that are no JPEG.
    EXPECT_FALSE(Find(TestSupport::WithExifThumbnail(kPicture, "no picture here")));
}

// Every cut and every garbled byte of the segment: the answer, if any, lies
// inside the bytes given and starts with a start-of-image marker.
TEST(ExifThumbnail, NeverPointsOutsideTheBytesGiven) {
    const std::string still = TestSupport::WithExifThumbnail(kPicture, kThumbnail, TiffOrder::Big);
    const size_t segmentEnd = TestSupport::kExifThumbnailOffset + kThumbnail.size();
    for (size_t cut = 0; cut < segmentEnd + 4; ++cut) {
        const auto found = Find(still.substr(0, cut));
        EXPECT_EQ(found.has_value(), cut >= segmentEnd) << cut;
    }
    std::mt19937 random(20261209);
    for (int round = 0; round < 4000; ++round) {
        std::string garbled = still;
        for (int k = 0; k < 3; ++k)
            garbled[random() % TestSupport::kExifThumbnailOffset] = static_cast<char>(random());
        garbled.resize(random() % (garbled.size() + 1));
        if (const auto found = Find(garbled)) {
            ASSERT_LE(found->End(), garbled.size()) << round;
            EXPECT_EQ(garbled.substr(found->start, 2), "\xFF\xD8") << round;
        }
    }
}

} // namespace
