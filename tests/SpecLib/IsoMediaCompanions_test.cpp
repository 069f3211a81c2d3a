// What a camera writes after a clip goes beside it: an XAVC S clip's
// thumbnail to THMBNL under the clip's number, an action camera's
// low-resolution copy and thumbnail under the DCF number its clip gets. A
// still, a picture too large for a thumbnail, a copy of another length and a
// thumbnail after no clip keep to the rules for carved files.
#include <gtest/gtest.h>

#include <map>

#include "IsoMediaFilingSupport.h"
#include "support/ExifSegment.h"
#include "support/IsoMediaSamples.h"
#include "support/TempDir.h"

namespace {

using namespace SearchTest;
using FSAccessLib::DirEntry;

const std::string kSidecar = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                             "<NonRealTimeMeta xmlns=\"urn:schemas-professionalDisc:nonRealTimeMeta:ver.2.00\">\r\n"
                             "<Duration value=\"20\"/>\r\n</NonRealTimeMeta>\r\n";

// An Exif segment whose IFD0 names the camera's maker, as a still's does.
std::string MakerExif() {
    const std::string tiff("II*\0\x08\0\0\0" "\x01\0" "\x0F\x01\x02\0\x05\0\0\0\x1A\0\0\0" "\0\0\0\0" "Sony\0", 31);
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    return std::string("\xFF\xE1\0", 3) + static_cast<char>(payload.size() + 2) + payload;
}

// Every selected file of the tree by its path, with where its data starts.
void SelectedFiles(const DirEntry& folder, const std::string& path, std::map<std::string, uint64_t>& files) {
    for (const DirEntry& child : folder.children) {
        const std::string name = path + AAA::ToUtf8(child.name);
        if (child.isDirectory)
            SelectedFiles(child, name + "/", files);
        else if (child.target)
            files[name] = child.start;
    }
}

TEST(IsoMediaCompanions, ThumbnailsAndLowResolutionCopiesGoBesideTheClipsTheyFollow) {
    TestSupport::TempDir dir("kalvory-iso-companions");
    const fs::path scratch = dir.Path();
    // Clip pictures: seed 11 is 144x96, seeds 12 and 24 96x64, seed 2 128x96.
    const auto xavcA = TestSupport::FfmpegClip(scratch, 1, "XAVC", 20);
    const auto xavcB = TestSupport::FfmpegClip(scratch, 5, "XAVC", 20);
    const auto action = TestSupport::FfmpegClip(scratch, 11, "mp41", 20);
    const auto lowResolution = TestSupport::FfmpegClip(scratch, 12, "mp41", 20);
    const auto other = TestSupport::FfmpegClip(scratch, 2, "mp41", 20);
    const auto longer = TestSupport::FfmpegClip(scratch, 24, "mp41", 60);
    const auto small = TestSupport::FfmpegPicture(scratch, "160x90");
    const auto vga = TestSupport::FfmpegPicture(scratch, "640x480");
    const auto gridded = TestSupport::FfmpegPicture(scratch, "160x120");
    const auto large = TestSupport::FfmpegPicture(scratch, "1280x720");
    if (!xavcA || !xavcB || !action || !lowResolution || !other || !longer || !small || !vga || !gridded || !large)
        GTEST_SKIP() << "ffmpeg is needed";
    // A camcorder's thumbnail may carry Exif that names no maker; a still's names its camera.
    const std::string exifThumbnail = small->substr(0, 2) + TestSupport::ExifSegment("\xFF\xD8\xFF\xD9") + small->substr(2);
    const std::string still = vga->substr(0, 2) + MakerExif() + vga->substr(2);
    struct Placed {
        const std::string* bytes;
        const char* path; // where it is recovered; null: nowhere
    };
    const Placed card[] = {
        {&*xavcA, "PRIVATE/M4ROOT/CLIP/C0008.MP4"},
        {&kSidecar, "PRIVATE/M4ROOT/CLIP/C0008M01.XML"},
        {&exifThumbnail, "PRIVATE/M4ROOT/THMBNL/C0008T01.JPG"},
        {&*xavcB, "PRIVATE/M4ROOT/CLIP/C0009.MP4"},
        {&still, "DCIM/100CDPFP/IMGA0001.JPG"}, // after a clip, but a still
        {&*small, nullptr},                     // a thumbnail after no clip
        {&*action, "DCIM/100CDPFP/IMGA0002.MP4"},
        {&*lowResolution, "DCIM/100CDPFP/IMGA0002.LRV"},
        {&*gridded, "DCIM/100CDPFP/IMGA0002.THM"},
        {&*other, "DCIM/100CDPFP/IMGA0003.MP4"},
        {&*longer, "DCIM/100CDPFP/IMGA0004.MP4"}, // smaller, but not the same recording
        {&*large, nullptr},                       // no thumbnail's size, and no Exif
    };
    const fs::path image = dir / "card.img";
    ImageWriter writer(image, 2 << 20);
    std::map<std::string, uint64_t> expected;
    uint64_t at = 64 << 10;
    for (const Placed& file : card) {
        writer.Put(at, *file.bytes);
        if (file.path != nullptr)
            expected[file.path] = at;
        at = (at + file.bytes->size() + 4095) / 4096 * 4096;
    }
    ASSERT_LE(at, 2u << 20);
    RawVolume volume(image, 0, 512);
    DirEntry root;
    const Kalvory::IsoMediaFiling filing = SearchAndFileClips(volume, root);
    EXPECT_EQ(filing.thumbnails, 1);
    EXPECT_EQ(filing.companions, 2);
    std::map<std::string, uint64_t> recovered;
    SelectedFiles(root, "", recovered);
    EXPECT_EQ(recovered, expected);
}

} // namespace
