// The whole wizard on card images: page order, buttons and job lifetime for
// a card with files and an empty one; the drive and folder pages' refusals.
#include <gtest/gtest.h>

#include "AAA_StringTable.h"
#include "ExteriorPages.h"
#include "PageSelectDrive.h"
#include "PageSelectFolder.h"
#include "Restore_Thread.h"
#include "WizardDriver.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/TempDir.h"

namespace {

using namespace WizardTest;
using KalvoryCli::DestinationVerdict;

QString Message(int id) { return QString::fromStdU16String(AAA::LoadString(id)); }

//                                 back   next  enabled finish enabled cancel
constexpr ButtonState kNoButton{false, true, false, false, false, true};
constexpr ButtonState kNextOnly{false, true, true, false, false, true};
constexpr ButtonState kFinishOnly{false, false, false, true, true, false};

class WizardFlow : public ::testing::Test {
protected:
    fs::path Card(const std::vector<CardFile>& files) {
        const fs::path image = dir / "card.img";
        WriteCard(image, files);
        return image;
    }
    fs::path Folder(const std::string& name) {
        const fs::path folder = dir / name;
        fs::create_directories(folder);
        return folder;
    }
    // Source and destination chosen; Next on the folder page starts the search.
    void ReachFolderPage(WizardRun& run, const fs::path& image) {
        run.Show();
        run.ChooseImage(image);
        run.ClickNext();
        ASSERT_EQ(run.Sheet().currentId(), kPageSelectFolder) << run.Prompts().errors.join("|").toStdString();
    }
    void StartSearch(WizardRun& run, const fs::path& image) {
        ReachFolderPage(run, image);
        run.ChooseFolder(Folder("out"));
        run.ClickNext();
    }

    TestSupport::TempDir dir{"kalvory-wizard"};
};

TEST_F(WizardFlow, CardWithFilesGoesThroughEveryPageAndSavesItsFiles) {
    WizardRun run;
    StartSearch(run, Card(CameraFiles()));
    ASSERT_TRUE(run.WaitForPage(kPageRestoreConfirm));
    run.ClickNext();
    ASSERT_TRUE(run.WaitForPage(kPageRestoreFinished));
    run.Sheet().button(QWizard::FinishButton)->click();
    ASSERT_TRUE(run.WaitClosed());

    EXPECT_EQ(run.Visited(), (std::vector<int>{kPageSelectDrive, kPageSelectFolder, kPageVerifying,
                                               kPageRestoreConfirm, kPageSaving, kPageRestoreFinished}));
    EXPECT_EQ(run.ButtonsOnEntry(),
              (std::vector<ButtonState>{kNoButton, kNoButton, kNoButton, kNextOnly, kNoButton, kFinishOnly}));
    EXPECT_EQ(run.JobOnEntry(), (std::vector<bool>{false, true, true, true, true, false}));
    EXPECT_EQ(run.Result(), QDialog::Accepted);
    EXPECT_TRUE(run.Prompts().errors.isEmpty()) << run.Prompts().errors.join("|").toStdString();
    const auto saved = RestoreTest::FilesUnder(dir / "out");
    for (const CardFile& file : CameraFiles()) {
        ASSERT_TRUE(saved.count(file.path)) << file.path;
        EXPECT_EQ(saved.at(file.path), file.bytes) << file.path;
    }
}

TEST_F(WizardFlow, EmptyCardEndsTheJobBeforeTheNothingToRecoverPage) {
    WizardRun run;
    StartSearch(run, Card({}));
    ASSERT_TRUE(run.WaitForPage(kPageRestoreNotRequired));

    EXPECT_EQ(run.Visited(),
              (std::vector<int>{kPageSelectDrive, kPageSelectFolder, kPageVerifying, kPageRestoreNotRequired}));
    EXPECT_EQ(run.ButtonsOnEntry().back(), kFinishOnly);
    EXPECT_FALSE(run.JobOnEntry().back());
    auto* page = static_cast<ExteriorPage*>(run.Sheet().page(kPageRestoreNotRequired));
    EXPECT_EQ(page->Title()->text(), Message(1070));
    EXPECT_EQ(page->Body()->text(), Message(1071));
    EXPECT_TRUE(page->Title()->font().bold());
    EXPECT_TRUE(RestoreTest::FilesUnder(dir / "out").empty());
}

TEST_F(WizardFlow, SourceThatNoReaderAcceptsStaysOnTheDrivePageWithoutAJob) {
    const fs::path image = dir / "blank.img";
    TestSupport::WriteFileBytes(image, std::string(1 << 20, '\0'));
    WizardRun run;
    run.Show();
    run.ChooseImage(image);
    run.ClickNext();

    EXPECT_EQ(run.Sheet().currentId(), kPageSelectDrive);
    EXPECT_EQ(run.Sheet().Job(), nullptr);
    EXPECT_EQ(run.Prompts().errors,
              QStringList{Message(114) + "\n\n" + QString::fromStdString(image.string()) +
                          " holds no FAT12, FAT16, FAT32 or exFAT volume"});
}

struct FolderRefusal {
    const char* name;
    int message;
    bool privateFolder;     // the folder already holds PRIVATE
    DestinationVerdict verdict; // what the device check says about the folder
};

void PrintTo(const FolderRefusal& refusal, std::ostream* out) { *out << refusal.name; }

class FolderRefusals : public WizardFlow, public ::testing::WithParamInterface<FolderRefusal> {};

TEST_P(FolderRefusals, AreShownAndKeepThePreviousChoice) {
    WizardRun run;
    run.SetDestinationCheck([verdict = GetParam().verdict](const fs::path& source, const fs::path& folder) {
        if (folder.filename() == "refused" && verdict != DestinationVerdict::Accepted)
            return verdict;
        return KalvoryCli::CheckDestination(source, folder);
    });
    ReachFolderPage(run, Card(CameraFiles()));
    auto* page = static_cast<PageSelectFolder*>(run.Sheet().page(kPageSelectFolder));
    const fs::path good = Folder("good");
    const fs::path refused = Folder("refused");
    if (GetParam().privateFolder)
        fs::create_directories(refused / "PRIVATE");

    run.ChooseFolder(good);
    run.ChooseFolder(refused);

    EXPECT_EQ(run.Prompts().errors, QStringList{Message(GetParam().message)});
    EXPECT_EQ(page->Destination().toStdString(), good.string());
    run.ClickNext();
    EXPECT_EQ(run.Sheet().Job()->destinationPath, AAA::FromUtf8(good.string()));
}

INSTANTIATE_TEST_SUITE_P(Wizard, FolderRefusals,
                         ::testing::Values(FolderRefusal{"HoldsPrivate", 1023, true, DestinationVerdict::Accepted},
                                           FolderRefusal{"OnTheCard", 1081, false, DestinationVerdict::OnSourceDevice}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WizardFlow, DestinationTheJobRefusesShowsItsTextAndKeepsTheJob) {
    Restore::SetFreeSpaceProbeForTesting([](const AAA::WString&) -> uint64_t { return 1024; });
    WizardRun run;
    ReachFolderPage(run, Card(CameraFiles()));
    run.ChooseFolder(Folder("small"));
    run.ClickNext();
    Restore::SetFreeSpaceProbeForTesting(nullptr);

    EXPECT_EQ(run.Sheet().currentId(), kPageSelectFolder);
    EXPECT_NE(run.Sheet().Job(), nullptr);
    ASSERT_EQ(run.Prompts().errors.size(), 1);
    EXPECT_TRUE(run.Prompts().errors.front().startsWith(Message(111) + "\n\n")) << "and names the folder";
}

TEST_F(WizardFlow, DriveListKeepsTheChoiceAcrossRefreshesAndRuns) {
    const DriveItem reader{"/dev/sdb1", "Generic STORAGE DEVICE", DriveKind::Partition, 1};
    const DriveItem unnamed{"/dev/sdc1", "", DriveKind::Partition, 1};
    WizardRun first({reader, unnamed});
    first.Show();
    auto* page = static_cast<PageSelectDrive*>(first.Sheet().page(kPageSelectDrive));
    QComboBox* list = page->List();
    EXPECT_EQ(list->itemText(0), QStringLiteral("/dev/sdb1 Generic STORAGE DEVICE (partition 1)"));
    EXPECT_EQ(list->itemText(1), QStringLiteral("/dev/sdc1 (partition 1)")) << "an unnamed drive is still listed";
    EXPECT_EQ(first.ButtonsOnEntry().back(), kNextOnly);
    list->setCurrentIndex(1);
    emit list->activated(1);

    first.Drives().insert(first.Drives().begin(), DriveItem{"/dev/mmcblk0", "SD16G"});
    page->Refresh();
    EXPECT_EQ(list->currentText(), QStringLiteral("/dev/sdc1 (partition 1)"));
    list->setCurrentIndex(0);
    page->Refresh(); // unchanged list: the user's selection stays
    EXPECT_EQ(list->currentIndex(), 0);

    WizardRun second({reader, unnamed});
    second.Show();
    auto* again = static_cast<PageSelectDrive*>(second.Sheet().page(kPageSelectDrive));
    EXPECT_EQ(again->List()->currentText(), QStringLiteral("/dev/sdc1 (partition 1)"));

    WizardRun none;
    none.Show();
    EXPECT_EQ(none.ButtonsOnEntry().back(), kNoButton);
}

} // namespace
