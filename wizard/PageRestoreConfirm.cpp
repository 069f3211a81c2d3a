#include "PageRestoreConfirm.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Artwork.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

PageRestoreConfirm::PageRestoreConfirm(Wizard& sheet) : WizardPage(sheet), shown_(new QPlainTextEdit(this)) {
    SetHeader(AAA::Msg::ConfirmPageTitle, AAA::Msg::ConfirmPageText);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("206"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    shown_->setObjectName(QStringLiteral("305"));
    shown_->setReadOnly(true);
    shown_->setFixedHeight(shown_->fontMetrics().lineSpacing() * 3 + 12);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(shown_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch();
}

void PageRestoreConfirm::initializePage() {
    SetButtons(kNextButton);
    reported_ = false;
    source_ = Sheet().Job() ? QString::fromStdU16String(Restore::JobSourcePath(*Sheet().Job())) : QString();
    shown_->setPlainText(source_);
    watch_ = WatchSource(source_, [this](const QString& changed) { SourceChanged(changed); });
}

void PageRestoreConfirm::SourceChanged(const QString& changedPath) {
    if (reported_ || source_.isEmpty() || !changedPath.startsWith(source_, Qt::CaseInsensitive))
        return;
    reported_ = true;
    watch_.reset();
    Sheet().Prompts().ShowError(this, Text(AAA::Msg::SourceChanged));
    Sheet().PressCancel();
}

bool PageRestoreConfirm::validatePage() {
    watch_.reset();
    return true;
}

bool PageRestoreConfirm::QueryCancel() {
    watch_.reset();
    return true;
}

int PageRestoreConfirm::nextId() const { return kPageSaving; }
