// The launcher's exit codes and its round trip through one wizard, the log
// threshold from the command line, the remaining-time text, and the texts the
// pages load from the string table.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "AAA_StringTable.h"
#include "CMainDlg.h"
#include "CommandLine.h"
#include "ProgressPage.h"
#include "Wizard.h"

namespace {

TEST(Launcher, EscapeEndsWith2AndExitWith310) {
    CMainDlg escaped;
    QSignalSpy escapeCodes(&escaped, &CMainDlg::exitRequested);
    escaped.show();
    QTest::keyClick(&escaped, Qt::Key_Escape);
    ASSERT_EQ(escapeCodes.count(), 1);
    EXPECT_EQ(escapeCodes.at(0).at(0).toInt(), 2);
    EXPECT_FALSE(escaped.isVisible());

    CMainDlg exited;
    QSignalSpy exitCodes(&exited, &CMainDlg::exitRequested);
    exited.show();
    exited.ExitButton()->click();
    ASSERT_EQ(exitCodes.count(), 1);
    EXPECT_EQ(exitCodes.at(0).at(0).toInt(), 310);
}

TEST(Launcher, StartHidesTheLauncherWhileOneWizardRuns) {
    WizardServices services;
    services.listDrives = [] { return std::vector<DriveItem>{}; };
    CMainDlg launcher(services);
    launcher.show();
    bool hiddenDuringWizard = false;
    QTimer::singleShot(50, [&] {
        hiddenDuringWizard = !launcher.isVisible();
        for (QWidget* window : QApplication::topLevelWidgets())
            if (auto* wizard = qobject_cast<Wizard*>(window); wizard && wizard->isVisible())
                wizard->reject();
    });
    launcher.StartButton()->click(); // returns when the wizard has closed
    EXPECT_TRUE(hiddenDuringWizard);
    EXPECT_TRUE(launcher.isVisible());
}

TEST(CommandLine, ReadsOnlyDashLWithANumber) {
    EXPECT_EQ(LogThresholdFromCommandLine("-l 7"), 7);
    EXPECT_EQ(LogThresholdFromCommandLine(""), std::nullopt);
    EXPECT_EQ(LogThresholdFromCommandLine("-l"), std::nullopt);
    EXPECT_EQ(LogThresholdFromCommandLine("-x 7"), std::nullopt);
}

TEST(RemainingText, FollowsPercentAndElapsedTime) {
    const KalvoryCli::RemainingWords words;
    EXPECT_EQ(RemainingText(0, 30, words), QString()) << "no estimate before anything is done";
    EXPECT_EQ(RemainingText(50, 30, words), QStringLiteral("Remaining 30 sec"));
    EXPECT_EQ(RemainingText(10, 60, words), QStringLiteral("Remaining 9 min"));
    EXPECT_EQ(RemainingText(100, 60, words), QStringLiteral("Remaining 0 sec"));
}

TEST(WizardTexts, ExistInEveryLanguage) {
    const int ids[] = {1000, 1001, 1003, 1005, 1006, 1010, 1011, 1020, 1021, 1022, 1023, 1030, 1031, 1032,
                       1033, 1034, 1040, 1041, 1050, 1051, 1052, 1053, 1054, 1060, 1061, 1070, 1071, 1080,
                       1081, 3000, 3001, 3002, 3003, 3010, 3011, 3012, 3013, 3014, 3015, 3020, 3021,
                       3022, 3023, 3024};
    for (int id : ids) {
        const AAA::WString english = AAA::LoadString(id, AAA::Language::English);
        EXPECT_FALSE(english.empty()) << id;
        for (AAA::Language language : {AAA::Language::Japanese, AAA::Language::SimplifiedChinese}) {
            const AAA::WString text = AAA::LoadString(id, language);
            EXPECT_FALSE(text.empty()) << id;
            if (id != 1000 && id != 3015) { // the product name and "OK" read the same
                EXPECT_NE(text, english) << id << " is not translated";
            }
        }
    }
    EXPECT_EQ(AAA::ToUtf8(AAA::LoadString(1003, AAA::Language::English)),
              "\nStart recovering files from \n\nthe SD/SDHC/SDXC memory card \n\n");
    EXPECT_EQ(AAA::ToUtf8(AAA::LoadString(1005, AAA::Language::English)), "It cancels. Is it good?");
}

} // namespace
