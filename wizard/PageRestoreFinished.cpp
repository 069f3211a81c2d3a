#include "PageRestoreFinished.h"

#include <QHBoxLayout>

#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

constexpr int kSummaryLines = 7;

} // namespace

PageRestoreFinished::PageRestoreFinished(Wizard& sheet)
    : ExteriorPage(sheet, AAA::Msg::FinishedPageTitle, AAA::Msg::FinishedPageText), summaryHeading_(new QLabel(this)),
      summary_(new QPlainTextEdit(this)), openFolder_(new QPushButton(this)), showReport_(new QPushButton(this)) {
    summaryHeading_->setText(Text(AAA::Msg::SummaryHeading));
    summaryHeading_->setBuddy(summary_);
    summary_->setObjectName(QStringLiteral("summary"));
    summary_->setReadOnly(true);
    summary_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    summary_->setTabChangesFocus(true);
    summary_->setMinimumHeight(summary_->fontMetrics().lineSpacing() * kSummaryLines + 12);
    openFolder_->setText(Text(AAA::Msg::OpenFolderButton));
    showReport_->setText(Text(AAA::Msg::ShowReportButton));
    connect(openFolder_, &QPushButton::clicked, this, [this] { OpenFolder(); });
    connect(showReport_, &QPushButton::clicked, this, [this] { ShowReport(); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(openFolder_);
    buttons->addWidget(showReport_);
    buttons->addStretch();
    Layout()->setStretchFactor(Body(), 0);
    Layout()->addWidget(summaryHeading_);
    Layout()->addWidget(summary_, 1);
    Layout()->addLayout(buttons);
    setTabOrder(summary_, openFolder_);
    setTabOrder(openFolder_, showReport_);
}

void PageRestoreFinished::initializePage() {
    ExteriorPage::initializePage();
    const std::optional<SavedRun>& saved = Sheet().LastSave();
    summary_->setPlainText(saved ? saved->summary : QString());
    summaryHeading_->setVisible(saved.has_value());
    summary_->setVisible(saved.has_value());
    openFolder_->setEnabled(saved && !saved->destination.isEmpty());
    showReport_->setEnabled(saved.has_value());
}

void PageRestoreFinished::OpenFolder() {
    const std::optional<SavedRun>& saved = Sheet().LastSave();
    if (saved && !Sheet().Prompts().OpenFolder(saved->destination))
        Sheet().Prompts().ShowError(this, TextWith(AAA::Msg::FolderNotOpened, {saved->destination.toStdString()}));
}

void PageRestoreFinished::ShowReport() {
    if (const std::optional<SavedRun>& saved = Sheet().LastSave())
        Sheet().Prompts().ShowReport(this, saved->reportPath, saved->reportText);
}
