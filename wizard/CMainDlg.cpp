#include "CMainDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "Artwork.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

// The original dialog's sizes are in dialog units: a quarter of the average
// width of the Latin letters across, an eighth of the font height down.
QSize DialogUnits(const QWidget& widget, int across, int down) {
    const QFontMetrics metrics = widget.fontMetrics();
    const QString letters = QStringLiteral("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ");
    const int averageWidth = (metrics.horizontalAdvance(letters) / 26 + 1) / 2;
    return {across * averageWidth / 4, down * metrics.height() / 8};
}

} // namespace

CMainDlg::CMainDlg(WizardServices services, QWidget* parent)
    : QDialog(parent), services_(std::move(services)), start_(new CColorButton(this)), exit_(new QPushButton(this)) {
    setWindowIcon(AppIcon());
    setWindowTitle(Text(AAA::Msg::AppTitle));
    start_->setObjectName(QStringLiteral("301"));
    start_->SetImage(HeaderImage());
    start_->SetColors(Qt::black, Qt::white);
    start_->setText(Text(AAA::Msg::StartButton));
    start_->setFixedSize(DialogUnits(*start_, 228, 42));
    exit_->setObjectName(QStringLiteral("310"));
    exit_->setText(Text(AAA::Msg::ExitButton));
    exit_->setFixedSize(DialogUnits(*exit_, 54, 14));
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("205"));
    icon->setPixmap(AppIcon().pixmap(32, 32));

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(icon);
    bottom->addStretch();
    bottom->addWidget(exit_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(start_);
    layout->addLayout(bottom);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(start_, &QPushButton::clicked, this, [this] { RunWizard(); });
    connect(exit_, &QPushButton::clicked, this, [this] {
        hide();
        emit exitRequested(kExitButton);
    });
}

void CMainDlg::reject() {
    QDialog::reject();
    emit exitRequested(kExitClosed);
}

void CMainDlg::RunWizard() {
    hide();
    {
        Wizard wizard(services_);
        wizard.exec();
    }
    show();
}
