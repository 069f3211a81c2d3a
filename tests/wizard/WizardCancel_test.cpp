// The progress pages while a worker runs: the cancel question and its two
// answers, a worker that fails, and a card that changes while the
// confirmation page waits.
#include <gtest/gtest.h>

#include <fstream>

#include "AAA_StringTable.h"
#include "PageRestoreConfirm.h"
#include "ProgressPage.h"
#include "WizardDriver.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/TempDir.h"

namespace {

using namespace WizardTest;

QString Message(int id) { return QString::fromStdU16String(AAA::LoadString(id)); }

class WizardCancel : public ::testing::Test {
protected:
    // Runs up to the verifying page; a `heldAtPercent` above 0 holds the search
    // at its first checkpoint with that progress.
    void StartWith(const std::vector<CardFile>& files, int heldAtPercent = 0) {
        WriteCard(dir / "card.img", files);
        run.Show();
        run.ChooseImage(dir / "card.img");
        run.ClickNext();
        ASSERT_NE(run.Sheet().Job(), nullptr);
        fs::create_directories(dir / "out");
        run.ChooseFolder(dir / "out");
        if (heldAtPercent > 0)
            WorkerHold::Install(*run.Sheet().Job(), WorkerHold::At::FirstCheckpoint, WorkerHold::Then::Wait,
                                heldAtPercent);
        run.ClickNext();
        ASSERT_EQ(run.Sheet().currentId(), kPageVerifying);
    }
    void GoOnToSaving(WorkerHold::Then then) {
        ASSERT_TRUE(run.WaitForPage(kPageRestoreConfirm));
        WorkerHold::Install(*run.Sheet().Job(), WorkerHold::At::AfterFirstWrite, then);
        run.ClickNext();
        ASSERT_EQ(run.Sheet().currentId(), kPageSaving);
    }
    ProgressPage& Page(int id) { return *static_cast<ProgressPage*>(run.Sheet().page(id)); }

    void TearDown() override { WorkerHold::Release(); }

    TestSupport::TempDir dir{"kalvory-wizard"};
    WizardRun run;
};

TEST_F(WizardCancel, NoResumesAndTheEstimateIgnoresTheQuestionsTime) {
    StartWith(CameraFiles(), 50);
    ASSERT_TRUE(WorkerHold::WaitHeld());
    ProgressPage& page = Page(kPageVerifying);
    run.Now() += 30;
    page.Tick();
    EXPECT_EQ(page.Remaining()->text(), QStringLiteral("Remaining 30 sec"));

    run.Prompts().answerCancel = [&] {
        run.Now() += 600; // the user thinks it over for ten minutes
        return false;
    };
    run.ClickCancel();
    page.Tick();

    EXPECT_EQ(run.Prompts().questions, 1);
    EXPECT_EQ(page.Remaining()->text(), QStringLiteral("Remaining 30 sec"));
    EXPECT_FALSE(run.Closed());
    EXPECT_FALSE(run.Sheet().Job()->CancelRequested());
    WorkerHold::Release();
    EXPECT_TRUE(run.WaitForPage(kPageRestoreConfirm));
}

// True when some file under `folder` holds the start of `bytes`, but not all of it.
bool HoldsPartOf(const fs::path& folder, const std::string& bytes) {
    for (const auto& [path, saved] : RestoreTest::FilesUnder(folder))
        if (saved.size() < bytes.size() && bytes.compare(0, saved.size(), saved) == 0)
            return true;
    return false;
}

TEST_F(WizardCancel, YesDuringSavingClosesOnlyAfterTheWorkerEndedAndLeavesNoPartialFile) {
    const std::string clip = OneLargeClip().front().bytes;
    StartWith(OneLargeClip());
    GoOnToSaving(WorkerHold::Then::Wait);
    ASSERT_TRUE(WorkerHold::WaitHeld());
    ASSERT_TRUE(HoldsPartOf(dir / "out", clip)) << "held in the middle of the clip";
    run.Prompts().answerCancel = [] { return true; };
    run.ClickCancel();

    WaitUntil([] { return false; }, 300); // the worker is still held: the sheet must wait
    EXPECT_FALSE(run.Closed());
    EXPECT_NE(run.Sheet().Job(), nullptr);
    EXPECT_EQ(Page(kPageSaving).Remaining()->text(), Message(1006));
    run.ClickCancel(); // a second press while cancelling asks nothing more
    EXPECT_EQ(run.Prompts().questions, 1);

    WorkerHold::Release();
    ASSERT_TRUE(run.WaitClosed());
    EXPECT_EQ(run.Result(), QDialog::Rejected);
    EXPECT_EQ(run.Sheet().Job(), nullptr);
    EXPECT_TRUE(run.Prompts().errors.isEmpty());
    EXPECT_FALSE(HoldsPartOf(dir / "out", clip));
}

TEST_F(WizardCancel, WorkerErrorDuringSavingIsShownAndClosesTheWizard) {
    StartWith(OneLargeClip());
    GoOnToSaving(WorkerHold::Then::Fail);
    ASSERT_TRUE(run.WaitClosed());

    EXPECT_EQ(run.Prompts().errors, QStringList{Message(115)});
    EXPECT_EQ(run.Result(), QDialog::Rejected);
    EXPECT_EQ(run.Sheet().Job(), nullptr);
    EXPECT_EQ(run.Visited().back(), kPageSaving);
}

TEST_F(WizardCancel, ChangedImageOnTheConfirmationPageCancelsWith1080) {
    StartWith(CameraFiles());
    ASSERT_TRUE(run.WaitForPage(kPageRestoreConfirm));
    auto& page = *static_cast<PageRestoreConfirm*>(run.Sheet().page(kPageRestoreConfirm));
    page.SourceChanged(QString::fromStdString((dir / "elsewhere.img").string()));
    WaitUntil([] { return false; }, 100);
    EXPECT_TRUE(run.Prompts().errors.isEmpty()) << "another file's change is none of the page's business";

    std::ofstream(dir / "card.img", std::ios::binary | std::ios::app) << "changed";
    ASSERT_TRUE(run.WaitClosed());
    EXPECT_EQ(run.Prompts().errors, QStringList{Message(1080)});
    EXPECT_EQ(run.Sheet().Job(), nullptr);
}

} // namespace
