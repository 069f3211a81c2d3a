// Renders the launcher, every wizard page and the icon to PNG files, in the language of
// the process locale, for a person to look at (scripts/render-wizard.sh).
// Usage: kalvory-wizard-render OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "Artwork.h"
#include "CMainDlg.h"
#include "PageRestoreConfirm.h"
#include "PageRestoreFinished.h"
#include "PreviewCard.h"
#include "ProgressPage.h"
#include "WizardDriver.h"
#include "WizardServices.h"
#include "common/FaultyIo.h"
#include "support/TempDir.h"

namespace {

using namespace WizardTest;

bool Save(QWidget& widget, const QString& folder, const char* name) {
    QApplication::processEvents();
    const QString file = folder + "/" + name + ".png";
    if (widget.grab().save(file))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
    return false;
}

// Presses Next and pictures the progress page it starts, held at `percent`
// done after `seconds`; then lets the worker go on.
bool SaveProgressPage(WizardRun& run, int percent, int seconds, const QString& out, const char* name) {
    WorkerHold::Install(*run.Sheet().Job(), WorkerHold::At::FirstCheckpoint, WorkerHold::Then::Wait, percent);
    run.ClickNext();
    WorkerHold::WaitHeld();
    run.Now() += seconds;
    static_cast<ProgressPage*>(run.Sheet().currentPage())->Tick();
    const bool saved = Save(run.Sheet(), out, name);
    WorkerHold::Release();
    return saved;
}

// The report dialog as the finished page's button opens it, pictured once it is up.
bool SaveReportDialog(WizardRun& run, const QString& out) {
    const std::optional<SavedRun>& saved = run.Sheet().LastSave();
    if (!saved)
        return false;
    bool ok = false;
    QTimer::singleShot(200, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            ok = Save(*dialog, out, "06b-report");
            dialog->close();
        }
    });
    DialogPrompter().ShowReport(&run.Sheet(), saved->reportPath, saved->reportText);
    return ok;
}

// A card with stills, an AVCHD stream, a DV clip and one sector of the
// stream that cannot be read.
bool RenderRecovery(const QString& out, const fs::path& scratch) {
    const uint64_t bad = WriteBigCard(scratch / "card.img", MixedCard().files, "PRIVATE/AVCHD/BDMV/STREAM/00000.MTS", 8192);
    KalvoryTest::ScopedReadFaults faults(scratch / "card.img");
    faults.faults.bad = {{bad, bad + 512}};
    fs::create_directories(scratch / "recovered");
    WizardRun run({{"/dev/mmcblk0p1", "SD16G"}, {"/dev/sdb1", "Generic STORAGE DEVICE"}});
    run.Show();
    bool ok = Save(run.Sheet(), out, "01-select-drive");
    run.ChooseImage(scratch / "card.img");
    run.ClickNext();
    run.ChooseFolder(scratch / "recovered");
    ok &= Save(run.Sheet(), out, "02-select-folder");
    ok &= SaveProgressPage(run, 40, 20, out, "03-verifying");
    ok &= run.WaitForPage(kPageRestoreConfirm) &&
          WaitUntil([&] { return static_cast<PageRestoreConfirm*>(run.Sheet().currentPage())->PreviewDone(); }) &&
          Save(run.Sheet(), out, "04-confirm");
    ok &= SaveProgressPage(run, 25, 200, out, "05-saving");
    ok &= run.WaitForPage(kPageRestoreFinished) && Save(run.Sheet(), out, "06-finished");
    ok &= SaveReportDialog(run, out);
    return ok;
}

bool RenderNothingFound(const QString& out, const fs::path& scratch) {
    WriteCard(scratch / "empty.img", {});
    fs::create_directories(scratch / "nothing");
    WizardRun run;
    run.Show();
    run.ChooseImage(scratch / "empty.img");
    run.ClickNext();
    run.ChooseFolder(scratch / "nothing");
    run.ClickNext();
    return run.WaitForPage(kPageRestoreNotRequired) && Save(run.Sheet(), out, "07-nothing-to-recover");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    TestSupport::TempDir scratch("kalvory-render");
    CMainDlg launcher;
    launcher.show();
    bool ok = Save(launcher, out, "00-launcher");
    launcher.hide();
    ok &= AppIcon().pixmap(256, 256).save(out + "/08-icon.png");
    ok &= RenderRecovery(out, scratch.Path());
    ok &= RenderNothingFound(out, scratch.Path());
    return ok ? 0 : 1;
}
