#pragma once
// The page between the search and the copy: files were found, and Next
// starts saving. Meanwhile the card is watched; a change of the source makes
// the search result stale, so the wizard says so and cancels.
#include <QPlainTextEdit>
#include <memory>

#include "SourceWatch.h"
#include "WizardPage.h"

class PageRestoreConfirm : public WizardPage {
public:
    explicit PageRestoreConfirm(Wizard& sheet);

    void initializePage() override;
    bool validatePage() override;
    bool QueryCancel() override;
    int nextId() const override;

    // A change notification for `changedPath`.
    void SourceChanged(const QString& changedPath);

private:
    QPlainTextEdit* shown_;
    QString source_;
    std::unique_ptr<SourceWatch> watch_;
    bool reported_ = false;
};
