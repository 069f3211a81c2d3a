#include "Wizard.h"

#include <cerrno>
#include <unistd.h>

#include "AAA_StringTable.h"
#include "Artwork.h"
#include "ExteriorPages.h"
#include "PageRestoreConfirm.h"
#include "PageRestoreFinished.h"
#include "PageSelectDrive.h"
#include "PageSelectFolder.h"
#include "ProgressPage.h"
#include "FileDigest.h"
#include "Kalvory_Recover.h"
#include "RecoveryReport.h"
#include "Texts.h"
#include "WizardPage.h"
#include "AAA_MessageIds.h"

namespace {

// The one line that tells how to get read access to a card reader's device.
QString ReadAccessHint(const std::string& source) {
    if (::access(source.c_str(), R_OK) == 0 || errno != EACCES)
        return {};
    return QString::fromStdString(AAA::FillPlaceholders(AAA::ToUtf8(AAA::LoadString(AAA::Msg::NoReadAccess)), {source}));
}

} // namespace

Wizard::Wizard(WizardServices services, QWidget* parent)
    : QWizard(parent), services_(std::move(services)), exteriorTitleFont_(QStringLiteral("Verdana"), 12, QFont::Bold) {
    setWizardStyle(QWizard::ModernStyle);
    setButtonLayout({QWizard::Stretch, QWizard::NextButton, QWizard::FinishButton, QWizard::CancelButton});
    setButtonText(QWizard::NextButton, Text(AAA::Msg::NextButton));
    setButtonText(QWizard::CancelButton, Text(AAA::Msg::CancelButton));
    setButtonText(QWizard::FinishButton, Text(AAA::Msg::FinishButton));
    setPixmap(QWizard::LogoPixmap, HeaderImage());
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint);
    setWindowIcon(AppIcon());
    setWindowTitle(Text(AAA::Msg::AppTitle));
    setPage(kPageSelectDrive, new PageSelectDrive(*this));
    setPage(kPageSelectFolder, new PageSelectFolder(*this));
    setPage(kPageVerifying, new PageVerifying(*this));
    setPage(kPageRestoreConfirm, new PageRestoreConfirm(*this));
    setPage(kPageSaving, new PageSaving(*this));
    setPage(kPageRestoreFinished, new PageRestoreFinished(*this));
    setPage(kPageRestoreNotRequired, new PageRestoreNotRequired(*this));
    setStartId(kPageSelectDrive);
}

Wizard::~Wizard() { EndJob(); }

QString Wizard::CreateJob(const std::string& source) {
    EndJob();
    lastSave_.reset();
    jobStarted_ = KalvoryCli::UtcNow();
    job_ = std::make_unique<Restore::RestoreMain>(services_.strategyType, AAA::FromUtf8(source));
    if (job_->ResultState() == Restore::TargetsFound) {
        job_->Strategy()->SetDigests(KalvoryCli::Sha256Digests()); // the report's digests, as the files are written
        return {};
    }
    QString text = QString::fromStdU16String(job_->ErrorText());
    if (const QString hint = ReadAccessHint(source); !hint.isEmpty())
        text += QStringLiteral("\n\n") + hint;
    EndJob();
    return text;
}

void Wizard::EndJob() {
    if (job_) {
        job_->ResumeWorker(); // a held worker could never finish
        job_->Wait();         // its outcomes are the worker's until it ends
        if (std::optional<SavedRun> saved = TakeSavedRun(*job_, jobStarted_))
            lastSave_ = std::move(saved);
    }
    Restore::EndJob(job_);
}

void Wizard::PressNext() { QMetaObject::invokeMethod(this, [this] { next(); }, Qt::QueuedConnection); }

void Wizard::PressCancel() { QMetaObject::invokeMethod(this, [this] { reject(); }, Qt::QueuedConnection); }

void Wizard::reject() {
    if (auto* page = dynamic_cast<WizardPage*>(currentPage()); page && !page->QueryCancel())
        return;
    QWizard::reject();
}

// Every way the sheet closes passes here.
void Wizard::done(int result) {
    EndJob();
    QWizard::done(result);
}
