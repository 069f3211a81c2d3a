// Renders the launcher, every wizard page and the icon to PNG files, in the language of
// the process locale, for a person to look at (scripts/render-wizard.sh).
// Usage: kalvory-wizard-render OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <cstdio>

#include "Artwork.h"
#include "CMainDlg.h"
#include "ProgressPage.h"
#include "WizardDriver.h"
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

bool RenderRecovery(const QString& out, const fs::path& scratch) {
    WriteCard(scratch / "card.img", CameraFiles());
    fs::create_directories(scratch / "recovered");
    WizardRun run({{"/dev/mmcblk0p1", "SD16G"}, {"/dev/sdb1", "Generic STORAGE DEVICE"}});
    run.Show();
    bool ok = Save(run.Sheet(), out, "01-select-drive");
    run.ChooseImage(scratch / "card.img");
    run.ClickNext();
    run.ChooseFolder(scratch / "recovered");
    ok &= Save(run.Sheet(), out, "02-select-folder");
    ok &= SaveProgressPage(run, 40, 20, out, "03-verifying");
    ok &= run.WaitForPage(kPageRestoreConfirm) && Save(run.Sheet(), out, "04-confirm");
    ok &= SaveProgressPage(run, 25, 200, out, "05-saving");
    ok &= run.WaitForPage(kPageRestoreFinished) && Save(run.Sheet(), out, "06-finished");
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
