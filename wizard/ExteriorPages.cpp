#include "ExteriorPages.h"

#include <QAbstractButton>

#include "Artwork.h"
#include "Texts.h"
#include "Wizard.h"

ExteriorPage::ExteriorPage(Wizard& sheet, int titleId, int bodyId)
    : WizardPage(sheet), title_(new QLabel(this)), body_(new QLabel(this)), layout_(new QVBoxLayout(this)),
      titleId_(titleId), bodyId_(bodyId) {
    setPixmap(QWizard::WatermarkPixmap, WatermarkImage());
    title_->setObjectName(QStringLiteral("308"));
    title_->setWordWrap(true);
    body_->setObjectName(QStringLiteral("309"));
    body_->setWordWrap(true);
    body_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout_->addWidget(title_);
    layout_->addSpacing(12);
    layout_->addWidget(body_, 1);
}

void ExteriorPage::initializePage() {
    SetButtons(kFinishButton);
    title_->setFont(Sheet().ExteriorTitleFont());
    Sheet().button(QWizard::CancelButton)->setEnabled(false);
    title_->setText(Text(titleId_));
    body_->setText(Text(bodyId_));
}
