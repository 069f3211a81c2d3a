#pragma once
// The two closing pages, shown with the watermark and without a header: the
// recovery finished, or there was nothing to recover. Both run without a job
// and offer only the sheet's Finish; the finished page adds what the save wrote.
#include <QLabel>
#include <QVBoxLayout>

#include "WizardPage.h"
#include "AAA_MessageIds.h"

class ExteriorPage : public WizardPage {
public:
    void initializePage() override;
    int nextId() const override { return -1; }
    QLabel* Title() const { return title_; }
    QLabel* Body() const { return body_; }

protected:
    ExteriorPage(Wizard& sheet, int titleId, int bodyId);
    // Title, then body; a page adds below them.
    QVBoxLayout* Layout() const { return layout_; }

private:
    QLabel* title_;
    QLabel* body_;
    QVBoxLayout* layout_;
    int titleId_;
    int bodyId_;
};

class PageRestoreNotRequired : public ExteriorPage {
public:
    explicit PageRestoreNotRequired(Wizard& sheet) : ExteriorPage(sheet, AAA::Msg::NothingFoundPageTitle, AAA::Msg::NothingFoundPageText) {}
};
