#pragma once
// Cards whose stills are real pictures (solid colours, so a thumbnail tells
// which picture it came from), with AVCHD streams of a known duration and a
// DV clip: what the confirmation page previews and the finished page sums up.
#include <QColor>
#include <QSize>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "WizardDriver.h"

namespace WizardTest {

// A JPEG of one colour; with `thumbnail`, an Exif segment whose thumbnail is
// of that colour.
std::string StillJpeg(QColor picture, std::optional<QColor> thumbnail, QSize size = {320, 240});

// The AVCHD stream's packets lie this far apart (1.5 ms); 10,000 of them play 14.9985 s.
constexpr uint32_t kStreamAtsStep = 40'500;
constexpr size_t kStreamPackets = 10'000;
double StreamSecondsOf(size_t packets);

struct PreviewCardFiles {
    std::vector<CardFile> files;
    int stills = 0, avchd = 0, dv = 0, other = 0;
    std::vector<QColor> thumbnailColours; // what each still's tile should show, in card order
};
// Two stills with Exif thumbnails, one without, an AVCHD stream, a DV clip
// and the AVCHD management files.
PreviewCardFiles MixedCard();
// `count` stills, each with a small Exif thumbnail.
std::vector<CardFile> ManyStills(int count);

// A FAT16 card of 32 MiB holding `files`; returns where byte `inFile` of
// `damagedPath` (if given) lies in the image.
uint64_t WriteBigCard(const fs::path& image, const std::vector<CardFile>& files, const std::string& damagedPath = {},
                      uint64_t inFile = 0);

} // namespace WizardTest
