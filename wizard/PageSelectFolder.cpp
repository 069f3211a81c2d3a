#include "PageSelectFolder.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "AAA_WideString.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

using KalvoryCli::DestinationVerdict;

PageSelectFolder::PageSelectFolder(Wizard& sheet)
    : WizardPage(sheet), shown_(new QPlainTextEdit(this)), open_(new QPushButton(this)) {
    SetHeader(AAA::Msg::SelectFolderHeader, AAA::Msg::FolderPageText);
    shown_->setObjectName(QStringLiteral("305"));
    shown_->setReadOnly(true);
    shown_->setFixedHeight(shown_->fontMetrics().lineSpacing() * 3 + 12);
    open_->setObjectName(QStringLiteral("301"));
    auto* row = new QHBoxLayout;
    row->addWidget(shown_, 1);
    row->addWidget(open_, 0, Qt::AlignTop);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addStretch();
    connect(open_, &QPushButton::clicked, this, [this] { Browse(); });
}

void PageSelectFolder::initializePage() {
    SetButtons(Destination().isEmpty() ? kNoButtons : kNextButton);
    open_->setText(Text(AAA::Msg::OpenButton));
}

void PageSelectFolder::Browse() {
    const QString folder = Sheet().Prompts().ChooseFolder(this);
    if (folder.isEmpty() || !Sheet().Job())
        return;
    const std::string source = AAA::ToUtf8(Restore::JobSourcePath(*Sheet().Job()));
    switch (Sheet().Services().checkDestination(source, folder.toStdString())) {
    case DestinationVerdict::OnSourceDevice:
        Sheet().Prompts().ShowError(this, Text(AAA::Msg::DestinationIsSource));
        return;
    case DestinationVerdict::HoldsPrivateFolder:
        Sheet().Prompts().ShowError(this, Text(AAA::Msg::DestinationNotEmpty));
        return;
    case DestinationVerdict::Accepted:
        break;
    }
    shown_->setPlainText(folder);
    SetButtons(kNextButton);
}

bool PageSelectFolder::validatePage() {
    Restore::RestoreMain* job = Sheet().Job();
    if (!job || Destination().isEmpty())
        return false;
    job->SetDestination(AAA::FromUtf8(Destination().toStdString()));
    if (job->ResultState() == Restore::TargetsFound)
        return true;
    Sheet().Prompts().ShowError(this, QString::fromStdU16String(job->ErrorText()));
    return false;
}

int PageSelectFolder::nextId() const { return kPageVerifying; }
