#include "WizardServices.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <ctime>

#include "Texts.h"

void DialogPrompter::ShowError(QWidget* owner, const QString& text) {
    QMessageBox box(QMessageBox::Critical, Text(1000), text, QMessageBox::Ok, owner);
    box.button(QMessageBox::Ok)->setText(Text(3015));
    box.exec();
}

bool DialogPrompter::AskCancel(QWidget* owner) {
    QMessageBox box(QMessageBox::Question, Text(1000), Text(1005), QMessageBox::Yes | QMessageBox::No, owner);
    box.button(QMessageBox::Yes)->setText(Text(3013));
    box.button(QMessageBox::No)->setText(Text(3014));
    return box.exec() == QMessageBox::Yes;
}

QString DialogPrompter::ChooseFolder(QWidget* owner) {
    return QFileDialog::getExistingDirectory(owner, HeaderText(1020), QDir::homePath(), QFileDialog::ShowDirsOnly);
}

QString DialogPrompter::ChooseImage(QWidget* owner) {
    return QFileDialog::getOpenFileName(owner, Text(3001), QDir::homePath(), Text(3002));
}

int64_t SecondsSinceEpoch() { return static_cast<int64_t>(std::time(nullptr)); }
