// Exif JPEG lengths from the marker walk, on pictures real tools made and on
// minimally broken twins; and the filing of carved pictures into DCF folders.
#include <gtest/gtest.h>

#include "AAA_Stream.h"
#include "Picture_Files.h"
#include "support/MediaSamples.h"
#include "support/TempDir.h"

namespace {

using FSAccessLib::DirEntry;

uint64_t JpegLengthIn(const std::string& medium, uint64_t start = 0) {
    AAA::MemoryStream stream(medium.data(), medium.size());
    return Kalvory::CheckAsJpeg(stream, start);
}

// SOI, APP1 "Exif", then the given segments.
std::string Exif(const std::string& rest) {
    return std::string("\xFF\xD8"                      // SOI
                       "\xFF\xE1\x00\x08" "Exif\0\0",  // APP1, length 8: "Exif" and two zeros
                       12) + rest;
}

TEST(CheckAsJpeg, WalksMarkersAndTheScanToTheEndOfImage) {
    const std::string scan = std::string("\xFF\xDA\x00\x04\x01\x02", 6) + // SOS, length 4
                             std::string("\x11\xFF\x00\x22\xFF\xD3\x33", 7) + // data: stuffed 0xFF, a restart
                             "\xFF\xD9";                                       // EOI
    struct Case {
        const char* what;
        std::string bytes;
        uint64_t length;
    };
    const Case cases[] = {
        {"a plain picture", Exif(scan), 12 + 15},
        {"fill bytes before a code", Exif("\xFF\xFF\xFF" + scan), 12 + 3 + 15},
        {"a restart marker between segments", Exif(std::string("\xFF\xD0", 2) + scan), 12 + 2 + 15},
        {"JFIF first, not Exif", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\0", 11) + scan, 0},
        {"a segment length of 1 would walk backwards", Exif(std::string("\xFF\xE2\x00\x01", 4) + scan), 0},
        {"a segment length of 0", Exif(std::string("\xFF\xC4\x00\x00", 4) + scan), 0},
        {"a marker code no picture has", Exif(std::string("\xFF\x55\x00\x04\x00\x00", 6) + scan), 0},
        {"no marker where one must stand", Exif(std::string("\x12", 1) + scan), 0},
        {"cut before its end", Exif(scan).substr(0, 12 + 13), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(JpegLengthIn(c.bytes + std::string(64, '\0')), c.length) << c.what;
}

TEST(CheckAsJpeg, ToolMadeExifPicturesMeasureWholeAndTheirTwinsDoNot) {
    TestSupport::TempDir dir("kalvory-jpeg");
    const auto exif = TestSupport::ToolMadeJpeg(dir.Path(), 1, true);
    const auto jfif = TestSupport::ToolMadeJpeg(dir.Path(), 2, false);
    if (!exif || !jfif)
        GTEST_SKIP() << "ffmpeg, cjpeg and exiftool are needed";
    ASSERT_NE(exif->find("\xFF\xD0"), std::string::npos) << "restart markers expected";
    const std::string after(4096, '\x5A');
    EXPECT_EQ(JpegLengthIn(std::string(512, '\0') + *exif + after, 512), exif->size())
        << "the thumbnail's own end-of-image is jumped with its segment";
    EXPECT_EQ(JpegLengthIn(exif->substr(0, exif->size() - 2)), 0u) << "truncated";
    EXPECT_EQ(JpegLengthIn(*jfif + after), 0u) << "JFIF";
}

DirEntry Carved(const std::u16string& name) {
    DirEntry file("", "");
    file.name = name;
    file.carved = true;
    file.length = 1;
    return file;
}

const DirEntry* Child(const DirEntry& folder, const std::u16string& name) {
    for (const DirEntry& child : folder.children)
        if (child.name == name)
            return &child;
    return nullptr;
}

TEST(RenameAndMoveDcimFiles, TheTenThousandthPictureOpensTheNextFolder) {
    DirEntry root;
    for (int i = 0; i < 10000; ++i)
        root.children.push_back(Carved(u"00000000.JPG"));
    root.children.push_back(Carved(u"0000001.BMP"));
    root.children.back().target = true;
    root.Relink(nullptr);
    EXPECT_EQ(Kalvory::RenameAndMoveDcimFiles(root), 0);
    const DirEntry* dcim = Child(root, u"DCIM");
    ASSERT_NE(dcim, nullptr);
    ASSERT_EQ(dcim->children.size(), 2u);
    EXPECT_EQ(dcim->children[0].name, u"100CDPFP");
    EXPECT_EQ(dcim->children[0].children.size(), 9999u);
    EXPECT_EQ(dcim->children[0].children.back().name, u"IMGA9999.JPG");
    EXPECT_EQ(dcim->children[1].name, u"101CDPFP");
    ASSERT_EQ(dcim->children[1].children.size(), 1u);
    EXPECT_EQ(dcim->children[1].children[0].name, u"IMGA0001.JPG");
    EXPECT_TRUE(dcim->children[1].children[0].target);
    for (const DirEntry& child : root.children)
        EXPECT_TRUE(child.isDirectory || !child.target) << "no file stays selected under the root";
}

TEST(RenameAndMoveDcimFiles, WithEveryFolderNameTakenPicturesAreCountedNotDropped) {
    DirEntry root;
    DirEntry dcim;
    dcim.name = u"DCIM";
    for (const char* prefix : {"CDPFP", "CDPFQ"})
        for (int n = 100; n <= 999; ++n) {
            DirEntry folder;
            folder.name = AAA::FromUtf8(std::to_string(n) + prefix);
            dcim.children.push_back(folder);
        }
    root.children.push_back(dcim);
    root.children.push_back(Carved(u"00000010.JPG"));
    root.children.push_back(Carved(u"00000020.JPG"));
    root.children.push_back(Carved(u"0000003.BMP"));
    root.children.back().target = true;
    root.Relink(nullptr);
    EXPECT_EQ(Kalvory::RenameAndMoveDcimFiles(root), 2);
    EXPECT_FALSE(root.children.back().target) << "later carved files are still unselected";
    EXPECT_EQ(root.children[0].children.size(), 1800u);
}

} // namespace
