#pragma once
// The launcher: one large start button and Exit. Start hides the launcher,
// runs one wizard to its end and shows the launcher again.
#include <QDialog>
#include <QPushButton>

#include "CColorButton.h"
#include "WizardServices.h"

// Exit codes of the message loop.
enum LauncherExit : int { kExitClosed = 2, kExitButton = 310 };

class CMainDlg : public QDialog {
    Q_OBJECT
public:
    explicit CMainDlg(WizardServices services = {}, QWidget* parent = nullptr);

    CColorButton* StartButton() const { return start_; }
    QPushButton* ExitButton() const { return exit_; }
    // Escape and the close box.
    void reject() override;

signals:
    // The launcher is gone; the message loop ends with `code`.
    void exitRequested(int code);

private:
    void RunWizard();

    WizardServices services_;
    CColorButton* start_;
    QPushButton* exit_;
};
