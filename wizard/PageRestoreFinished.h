#pragma once
// The finished page: below its title and body, what the save wrote as the
// command line tells it, and buttons that open the destination folder and
// show the recovery report written there.
#include <QPlainTextEdit>
#include <QPushButton>

#include "ExteriorPages.h"

class PageRestoreFinished : public ExteriorPage {
public:
    explicit PageRestoreFinished(Wizard& sheet);
    void initializePage() override;

    QPlainTextEdit* SavedSummary() const { return summary_; }
    QPushButton* OpenFolderButton() const { return openFolder_; }
    QPushButton* ShowReportButton() const { return showReport_; }

private:
    void OpenFolder();
    void ShowReport();

    QLabel* summaryHeading_;
    QPlainTextEdit* summary_;
    QPushButton* openFolder_;
    QPushButton* showReport_;
};
