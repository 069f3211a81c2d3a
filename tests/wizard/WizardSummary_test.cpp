// What the confirmation and finished pages tell of a run on a card with
// stills, an AVCHD stream, a DV clip and one sector that cannot be read:
// counts and sizes by kind, the thumbnails (Exif thumbnail or picture), the
// stream's duration, the save's summary, the folder and the report.
#include <gtest/gtest.h>

#include <QApplication>
#include <QIcon>
#include <QTest>
#include <fstream>
#include <sstream>

#include "PageRestoreConfirm.h"
#include "PageRestoreFinished.h"
#include "PreviewCard.h"
#include "RecoveredFiles.h"
#include "Texts.h"
#include "common/FaultyIo.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/TempDir.h"
#include "AAA_MessageIds.h"

namespace {

using namespace WizardTest;
using KalvoryCli::HumanBytes;

constexpr const char* kDamaged = "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS";
constexpr uint64_t kDamagedAt = 8192; // in the stream: no packet the duration samples

class WizardSummary : public ::testing::Test {
protected:
    void ReachConfirmation(WizardRun& run) {
        run.Show();
        run.ChooseImage(image);
        run.ClickNext();
        run.ChooseFolder(out);
        run.ClickNext();
        ASSERT_TRUE(run.WaitForPage(kPageRestoreConfirm)) << run.Prompts().errors.join("|").toStdString();
    }
    uint64_t Bytes(FileKind kind) const {
        uint64_t total = 0;
        for (const CardFile& file : card.files)
            total += KindOfName(AAA::FromUtf8(file.path)) == kind ? file.bytes.size() : 0;
        return total;
    }
    QString KindLine(int id, int files, FileKind kind) const {
        return TextWith(id, {std::to_string(files), HumanBytes(Bytes(kind))});
    }

    TestSupport::TempDir dir{"kalvory-summary"};
    PreviewCardFiles card = MixedCard();
    fs::path image = dir.Path() / "card.img";
    fs::path out = dir.Path() / "out";
};

QColor TileColour(const QListWidgetItem& tile) {
    const QImage shown = tile.icon().pixmap(kThumbnailSize).toImage();
    return shown.pixelColor(shown.width() / 2, shown.height() / 2);
}

bool Near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

TEST_F(WizardSummary, ConfirmationCountsByKindAndPreviewsStillsAndVideos) {
    WriteBigCard(image, card.files);
    fs::create_directories(out);
    WizardRun run;
    ReachConfirmation(run);
    auto* page = static_cast<PageRestoreConfirm*>(run.Sheet().currentPage());
    ASSERT_TRUE(WaitUntil([&] { return page->PreviewDone(); }));

    const QStringList expected{KindLine(AAA::Msg::FoundAvchdVideos, card.avchd, FileKind::AvchdVideo),
                               KindLine(AAA::Msg::FoundDvClips, card.dv, FileKind::DvClip),
                               KindLine(AAA::Msg::FoundStills, card.stills, FileKind::Still),
                               KindLine(AAA::Msg::FoundOtherFiles, card.other, FileKind::Other),
                               TextWith(AAA::Msg::FoundInDirectories, {std::to_string(card.files.size())}),
                               TextWith(AAA::Msg::FoundAsDeleted, {"0"}),
                               TextWith(AAA::Msg::FoundInFoundFolders, {"0"}),
                               TextWith(AAA::Msg::FoundByScan, {"0"})};
    EXPECT_EQ(page->SummaryLines(), expected);

    // The Exif thumbnail, not the picture (blue), where there is one; the picture itself otherwise.
    ThumbnailStrip* strip = page->Strip();
    ASSERT_EQ(strip->count(), card.stills);
    EXPECT_EQ(strip->Filled(), card.stills);
    for (int k = 0; k < strip->count(); ++k)
        EXPECT_TRUE(Near(TileColour(*strip->item(k)), card.thumbnailColours[static_cast<size_t>(k)]))
            << k << ": " << TileColour(*strip->item(k)).name().toStdString();
    EXPECT_EQ(strip->item(0)->toolTip(), QStringLiteral("IMGA0001.JPG"));

    VideoList* videos = page->Videos();
    ASSERT_EQ(videos->topLevelItemCount(), 2);
    const QList<QTreeWidgetItem*> stream = videos->findItems(QStringLiteral("00000.MTS"), Qt::MatchExactly);
    const QList<QTreeWidgetItem*> clip = videos->findItems(QStringLiteral("001XX00.AVI"), Qt::MatchExactly);
    ASSERT_EQ(stream.size(), 1);
    ASSERT_EQ(clip.size(), 1);
    EXPECT_EQ(stream[0]->text(VideoList::kSize), QString::fromStdString(HumanBytes(Bytes(FileKind::AvchdVideo))));
    EXPECT_EQ(stream[0]->text(VideoList::kDuration), DurationText(StreamSecondsOf(kStreamPackets)));
    EXPECT_EQ(stream[0]->text(VideoList::kDuration), QStringLiteral("0:15"));
    EXPECT_EQ(clip[0]->text(VideoList::kDuration), QString()) << "a DV clip has no arrival times";

    // Both previews are reached from the keyboard: by their mnemonics, and with Tab.
    run.Sheet().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&run.Sheet()));
    QTest::keyClick(&run.Sheet(), Qt::Key_V, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), videos);
    QTest::keyClick(&run.Sheet(), Qt::Key_P, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), strip);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), videos);
}

TEST_F(WizardSummary, FinishedPageTellsTheSaveAndOpensTheFolderAndTheReport) {
    const uint64_t bad = WriteBigCard(image, card.files, kDamaged, kDamagedAt);
    fs::create_directories(out);
    KalvoryTest::ScopedReadFaults faults(image);
    faults.faults.bad = {{bad, bad + 512}};
    WizardRun run;
    ReachConfirmation(run);
    run.ClickNext();
    ASSERT_TRUE(run.WaitForPage(kPageRestoreFinished)) << run.Prompts().errors.join("|").toStdString();
    auto* page = static_cast<PageRestoreFinished*>(run.Sheet().currentPage());

    uint64_t bytes = 0;
    for (const CardFile& file : card.files)
        bytes += file.bytes.size();
    const QStringList lines = page->SavedSummary()->toPlainText().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 4);
    EXPECT_EQ(lines[0], TextWith(AAA::Msg::Recovered, {std::to_string(card.files.size()), HumanBytes(bytes), out.string()}));
    EXPECT_EQ(lines[1], TextWith(AAA::Msg::DamagedFiles, {"1"}));
    EXPECT_EQ(lines[2], QString::fromStdString("  " + (out / kDamaged).string() + ": bytes 8192-8703"));
    EXPECT_EQ(lines[3], TextWith(AAA::Msg::UnreadableBytes, {HumanBytes(512)}));
    EXPECT_EQ(page->Body()->text(), Text(AAA::Msg::FinishedPageText)) << "the page's own text stays";

    page->OpenFolderButton()->click();
    EXPECT_EQ(run.Prompts().openedFolders, QStringList{QString::fromStdString(out.string())});
    page->ShowReportButton()->click();
    const fs::path report = out / "kalvory-report.json";
    ASSERT_EQ(run.Prompts().reports, QStringList{QString::fromStdString(report.string())});
    std::stringstream written;
    written << std::ifstream(report).rdbuf();
    EXPECT_EQ(run.Prompts().reportText.toStdString(), written.str());
    EXPECT_NE(written.str().find("\"damaged\": 1,"), std::string::npos) << written.str().substr(0, 800);
    EXPECT_NE(written.str().find("\"result\": \"recovered\""), std::string::npos);

    run.Sheet().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&run.Sheet()));
    QTest::keyClick(&run.Sheet(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), page->SavedSummary());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page->OpenFolderButton());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), page->ShowReportButton());
    QTest::keyClick(&run.Sheet(), Qt::Key_O, Qt::AltModifier); // a mnemonic clicks after a short animation
    EXPECT_TRUE(WaitUntil([&] { return run.Prompts().openedFolders.size() == 2; }, 2000)) << "Alt+O opens it again";
}

// Leaving the page while its worker still reads the card: Next stops it
// before the save reads the card, Cancel before the job ends.
TEST_F(WizardSummary, LeavingTheConfirmationStopsItsPreviewFirst) {
    const std::vector<CardFile> stills = ManyStills(400);
    WriteBigCard(image, stills);
    for (const bool next : {true, false}) {
        const fs::path folder = out / (next ? "next" : "cancel");
        fs::create_directories(folder);
        WizardRun run;
        run.Show();
        run.ChooseImage(image);
        run.ClickNext();
        run.ChooseFolder(folder);
        run.ClickNext();
        ASSERT_TRUE(run.WaitForPage(kPageRestoreConfirm));
        auto* page = static_cast<PageRestoreConfirm*>(run.Sheet().currentPage());
        EXPECT_EQ(page->Strip()->count(), static_cast<int>(kMaxThumbnails));
        if (next) {
            run.ClickNext();
            ASSERT_TRUE(run.WaitForPage(kPageRestoreFinished));
            EXPECT_EQ(RestoreTest::FilesUnder(folder).size(), stills.size() + 1) << "and the report";
        } else {
            run.ClickCancel();
            ASSERT_TRUE(run.WaitClosed());
            EXPECT_EQ(run.Sheet().Job(), nullptr);
        }
        const int filled = page->Strip()->Filled();
        QApplication::processEvents();
        EXPECT_EQ(page->Strip()->Filled(), filled) << "nothing arrives once stopped";
    }
}

} // namespace
