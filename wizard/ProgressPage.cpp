#include "ProgressPage.h"

#include <QVBoxLayout>

#include "AAA_WideString.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

constexpr int kTickMs = 1000;

std::string Utf8Text(int id) { return Text(id).toStdString(); }

} // namespace

QString RemainingText(int percent, double elapsedSeconds, const KalvoryCli::RemainingWords& words) {
    if (percent >= 100) // all done: nothing remains, rather than no estimate
        return QString::fromStdString(words.remaining + " 0 " + words.seconds);
    return QString::fromStdString(KalvoryCli::RemainingTimeText(percent, elapsedSeconds, words));
}

ProgressPage::ProgressPage(Wizard& sheet, int titleId, int subtitleId, int wordsId)
    : WizardPage(sheet), bar_(new QProgressBar(this)), remaining_(new QLabel(this)), shown_(new QPlainTextEdit(this)),
      words_{Utf8Text(wordsId), Utf8Text(wordsId + 1), Utf8Text(wordsId + 2)} {
    SetHeader(titleId, subtitleId);
    bar_->setObjectName(QStringLiteral("307"));
    bar_->setRange(0, 100);
    bar_->setTextVisible(false);
    remaining_->setObjectName(QStringLiteral("-1"));
    remaining_->setWordWrap(true);
    shown_->setObjectName(QStringLiteral("305"));
    shown_->setReadOnly(true);
    shown_->setFixedHeight(shown_->fontMetrics().lineSpacing() * 3 + 12);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(bar_);
    layout->addWidget(remaining_);
    layout->addWidget(shown_);
    layout->addStretch();
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
}

void ProgressPage::initializePage() {
    SetButtons(kNoButtons);
    bar_->setValue(0);
    remaining_->clear();
    Restore::RestoreMain* job = Sheet().Job();
    if (!job)
        return;
    shown_->setPlainText(ShownPath(*job));
    startTime_ = Sheet().Services().nowSeconds();
    timer_.start();
    copiedResult_ = Restore::TargetsFound;
    ended_ = false;
    heldCompletion_.reset();
    StartWorker(*job);
}

void ProgressPage::Tick() {
    Restore::RestoreMain* job = Sheet().Job();
    const int percent = job ? job->ProgressPercent() : 0;
    if (percent == 0)
        return;
    const double elapsed = static_cast<double>(Sheet().Services().nowSeconds() - startTime_);
    remaining_->setText(RemainingText(percent, elapsed, words_));
    bar_->setValue(percent);
}

void ProgressPage::OnCompletion(CompletionRecord* record) {
    auto* page = static_cast<ProgressPage*>(record->user);
    const CompletionRecord copy = *record;
    QMetaObject::invokeMethod(page, [page, copy] { page->Completed(copy); }, Qt::QueuedConnection);
}

void ProgressPage::SetCopiedResult(const CompletionRecord& record) {
    copiedResult_ = record.ResultState;
    // A worker that ended just before the user said Yes still counts as cancelled.
    const Restore::RestoreMain* job = Sheet().Job();
    if ((copiedResult_ == Restore::TargetsFound || copiedResult_ == Restore::NoTargets) && job && job->CancelRequested())
        copiedResult_ = Restore::Cancelled;
}

void ProgressPage::Completed(const CompletionRecord& record) {
    if (asking_) { // the question's own event loop delivered it; settle after the answer
        heldCompletion_ = record;
        return;
    }
    timer_.stop();
    ended_ = true;
    SetCopiedResult(record);
    if (copiedResult_ == Restore::Failed) {
        Sheet().Prompts().ShowError(this, QString::fromStdU16String(record.ErrorString));
        Sheet().PressCancel();
    } else if (copiedResult_ == Restore::Cancelled) {
        Sheet().PressCancel();
    } else {
        Sheet().PressNext();
    }
}

bool ProgressPage::QueryCancel() {
    Restore::RestoreMain* job = Sheet().Job();
    // After an error or a cancel the sheet may close (it ends the job as it
    // does); after a success the Next already posted must come first.
    if (ended_ || !job)
        return !job || copiedResult_ == Restore::Cancelled || copiedResult_ == Restore::Failed;
    if (job->CancelRequested())
        return false; // already cancelling: the worker's end closes the sheet
    job->SuspendWorker();
    timer_.stop();
    const int64_t asked = Sheet().Services().nowSeconds();
    asking_ = true;
    const bool yes = Sheet().Prompts().AskCancel(this);
    asking_ = false;
    if (yes) {
        job->RequestCancel();
        remaining_->setText(Text(AAA::Msg::Cancelling));
        job->ResumeWorker();
    } else {
        job->ResumeWorker();
        startTime_ += Sheet().Services().nowSeconds() - asked;
        timer_.start();
    }
    if (heldCompletion_) {
        const CompletionRecord held = *heldCompletion_;
        heldCompletion_.reset();
        Completed(held);
    }
    return false;
}

void VerifyOperation::Start(Restore::RestoreMain& job, void* user, CompletionCallback callback) {
    job.StartVerify(user, callback);
}

QString VerifyOperation::Shown(const Restore::RestoreMain& job) {
    return QString::fromStdU16String(Restore::JobSourcePath(job));
}

void SaveOperation::Start(Restore::RestoreMain& job, void* user, CompletionCallback callback) {
    job.StartSave(user, callback);
}

QString SaveOperation::Shown(const Restore::RestoreMain& job) { return QString::fromStdU16String(job.destinationPath); }
