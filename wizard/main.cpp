// kalvory-wizard: the launcher and the recovery wizard for camcorder cards.
#include <QApplication>

#include "AAA_DebugLog.h"
#include "Artwork.h"
#include "CMainDlg.h"
#include "CommandLine.h"
#include "PlatformSources.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv); // takes Qt's own options out of argv
    Platform::InstallSourceOpener();
    // The launcher is hidden while a wizard runs; closing the wizard must not end the process.
    app.setQuitOnLastWindowClosed(false);
    if (const auto level = LogThresholdFromCommandLine(JoinArguments(argc, argv)))
        AAA::LogThreshold = *level;
    app.setWindowIcon(AppIcon());
    CMainDlg launcher;
    QObject::connect(&launcher, &CMainDlg::exitRequested, &app, [](int code) { QCoreApplication::exit(code); });
    launcher.show();
    return app.exec();
}
