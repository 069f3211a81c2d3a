#include "PreviewCard.h"

#include <QBuffer>
#include <QImage>

#include "support/DvClipWriter.h"
#include "support/ExifSegment.h"
#include "support/FatImageBuilder.h"
#include "support/MediaSamples.h"

namespace WizardTest {

namespace {

std::string Encode(QColor colour, QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 90);
    return bytes.toStdString();
}

} // namespace

std::string StillJpeg(QColor picture, std::optional<QColor> thumbnail, QSize size) {
    const std::string jpeg = Encode(picture, size);
    return thumbnail ? TestSupport::WithExifThumbnail(jpeg, Encode(*thumbnail, {160, 120})) : jpeg;
}

double StreamSecondsOf(size_t packets) { return static_cast<double>(packets - 1) * kStreamAtsStep / 27e6; }

PreviewCardFiles MixedCard() {
    PreviewCardFiles card;
    card.files = {
        {"DCIM/100CDPFP/IMGA0001.JPG", StillJpeg(Qt::blue, QColor(Qt::red))},
        {"DCIM/100CDPFP/IMGA0002.JPG", StillJpeg(Qt::blue, QColor(Qt::yellow))},
        {"DCIM/100CDPFP/IMGA0003.JPG", StillJpeg(Qt::green, std::nullopt)},
        {"PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", TestSupport::SourcePackets(kStreamPackets, 5000, kStreamAtsStep)},
        {"PRIVATE/QORVALIN/SBGDVSD/VIDEO/001XX00.AVI",
         TestSupport::WriteDvClip({.system = TestSupport::DvVideoSystem::Pal, .frames = 10}).aviFile},
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", "INDX0200 index of clips"},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", "MOBJ0200 movie objects"},
    };
    card.stills = 3, card.avchd = 1, card.dv = 1, card.other = 2;
    card.thumbnailColours = {Qt::red, Qt::yellow, Qt::green};
    return card;
}

std::vector<CardFile> ManyStills(int count) {
    std::vector<CardFile> files;
    for (int k = 0; k < count; ++k) {
        char name[64];
        std::snprintf(name, sizeof name, "DCIM/%03dCDPFP/IMGA%04d.JPG", 100 + k / 500, k % 500 + 1);
        const QColor colour = QColor::fromHsv(k * 37 % 360, 200, 220);
        files.push_back({name, StillJpeg(colour, colour, {160, 120})});
    }
    return files;
}

uint64_t WriteBigCard(const fs::path& image, const std::vector<CardFile>& files, const std::string& damagedPath,
                      uint64_t inFile) {
    TestSupport::FatImageBuilder card(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat16));
    for (const CardFile& file : files)
        card.AddFile(file.path, file.bytes);
    const TestSupport::FatImage built = card.Build();
    built.WriteTo(image);
    return damagedPath.empty() ? 0 : TestSupport::VolumeOffsetOf(built, damagedPath, inFile);
}

} // namespace WizardTest
