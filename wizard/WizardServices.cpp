#include "WizardServices.h"

#include <QDir>
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

int64_t SecondsSinceEpoch() { return static_cast<int64_t>(std::time(nullptr)); }
