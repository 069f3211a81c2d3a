#pragma once
// The second page: the folder that receives the recovered files. A folder on
// the card itself or one that already holds a recovery is refused; the
// folder chosen is handed to the job on Next.
#include <QPlainTextEdit>
#include <QPushButton>

#include "WizardPage.h"

class PageSelectFolder : public WizardPage {
public:
    explicit PageSelectFolder(Wizard& sheet);

    void initializePage() override;
    bool validatePage() override;
    int nextId() const override;

    // Button 301: the folder browser and its refusals.
    void Browse();
    QPushButton* OpenButton() const { return open_; }
    QString Destination() const { return shown_->toPlainText(); }

private:
    QPlainTextEdit* shown_;
    QPushButton* open_;
};
