#include "WizardServices.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPlainTextEdit>
#include <QUrl>
#include <QVBoxLayout>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <ctime>

#include "Texts.h"
#include "AAA_MessageIds.h"

void DialogPrompter::ShowError(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Critical, Text(AAA::Msg::AppTitle), text, QMessageBox::Ok, owner);
    box.button(QMessageBox::Ok)->setText(Text(AAA::Msg::OkButton));
    box.exec();
}

bool DialogPrompter::AskCancel(QWidget* owner) {
    QMessageBox box(QMessageBox::Question, Text(AAA::Msg::AppTitle), Text(AAA::Msg::ConfirmCancel), QMessageBox::Yes | QMessageBox::No, owner);
    box.button(QMessageBox::Yes)->setText(Text(AAA::Msg::YesButton));
    box.button(QMessageBox::No)->setText(Text(AAA::Msg::NoButton));
    return box.exec() == QMessageBox::Yes;
}

QString DialogPrompter::ChooseFolder(QWidget* owner) {
    return QFileDialog::getExistingDirectory(owner, HeaderText(AAA::Msg::SelectFolderHeader), QDir::homePath(), QFileDialog::ShowDirsOnly);
}

QString DialogPrompter::ChooseImage(QWidget* owner) {
    return QFileDialog::getOpenFileName(owner, Text(AAA::Msg::OpenImageTitle), QDir::homePath(), Text(AAA::Msg::ImageFileFilter));
}

bool DialogPrompter::OpenFolder(const QString& folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); }

void DialogPrompter::ShowReport(QWidget* owner, const QString& path, const QString& text) {
    QDialog dialog(owner);
    dialog.setWindowTitle(Text(AAA::Msg::ReportTitle));
    auto* where = new QLabel(path, &dialog);
    where->setTextInteractionFlags(Qt::TextSelectableByMouse);
    where->setVisible(!path.isEmpty());
    auto* report = new QPlainTextEdit(text, &dialog);
    report->setReadOnly(true);
    report->setLineWrapMode(QPlainTextEdit::NoWrap);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setText(Text(AAA::Msg::OkButton));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(where);
    layout->addWidget(report, 1);
    layout->addWidget(buttons);
    dialog.resize(dialog.fontMetrics().averageCharWidth() * 90, dialog.fontMetrics().lineSpacing() * 30);
    dialog.exec();
}

int64_t SecondsSinceEpoch() { return static_cast<int64_t>(std::time(nullptr)); }
