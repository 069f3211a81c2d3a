#pragma once
// The two progress pages: one template, `PageVerifyingBase`, over what is
// common to both (the worker it starts, the once-a-second progress and
// remaining time, the completion handed back to the interface thread, and the
// cancel protocol that holds the worker while the user is asked).
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>
#include <optional>

#include "RemainingTime.h"
#include "Restore_Thread.h"
#include "Wizard.h"
#include "WizardPage.h"
#include "AAA_MessageIds.h"

// The remaining-time text for `percent` done after `elapsedSeconds`; empty at 0.
QString RemainingText(int percent, double elapsedSeconds, const KalvoryCli::RemainingWords& words);

class ProgressPage : public WizardPage {
public:
    void initializePage() override;
    bool QueryCancel() override;

    // One timer tick: progress bar and remaining time from the job's percent.
    void Tick();
    int32_t CopiedResult() const { return copiedResult_; }
    QProgressBar* Bar() const { return bar_; }
    QLabel* Remaining() const { return remaining_; }

protected:
    ProgressPage(Wizard& sheet, int titleId, int subtitleId, int wordsId);
    virtual void StartWorker(Restore::RestoreMain& job) = 0;
    virtual QString ShownPath(const Restore::RestoreMain& job) const = 0;
    // The completion callback; runs on the worker, so it only posts.
    static void OnCompletion(CompletionRecord* record);

private:
    void Completed(const CompletionRecord& record);
    void SetCopiedResult(const CompletionRecord& record);

    QProgressBar* bar_;
    QLabel* remaining_;
    QPlainTextEdit* shown_;
    QTimer timer_;
    KalvoryCli::RemainingWords words_;
    int64_t startTime_ = 0;
    int32_t copiedResult_ = Restore::TargetsFound;
    bool ended_ = false;  // the completion has been handled
    bool asking_ = false;
    std::optional<CompletionRecord> heldCompletion_; // arrived while the question was open
};

template <class Operation>
class PageVerifyingBase : public ProgressPage {
public:
    explicit PageVerifyingBase(Wizard& sheet)
        : ProgressPage(sheet, Operation::kTitle, Operation::kSubtitle, Operation::kWords) {}

    bool validatePage() override {
        if (Operation::EndsJobOnNext(CopiedResult()))
            Sheet().EndJob();
        return true;
    }
    int nextId() const override { return Operation::NextPage(CopiedResult()); }

protected:
    void StartWorker(Restore::RestoreMain& job) override {
        Operation::Start(job, static_cast<ProgressPage*>(this), &ProgressPage::OnCompletion);
    }
    QString ShownPath(const Restore::RestoreMain& job) const override { return Operation::Shown(job); }
};

// Verification: searches the card; Next leads to the confirmation, or, when
// nothing was found, ends the job and jumps to the nothing-to-recover page.
struct VerifyOperation {
    static constexpr int kTitle = AAA::Msg::VerifyPageTitle, kSubtitle = AAA::Msg::VerifyPageText,
                         kWords = AAA::Msg::VerifyRemaining;
    static void Start(Restore::RestoreMain& job, void* user, CompletionCallback callback);
    static QString Shown(const Restore::RestoreMain& job);
    static bool EndsJobOnNext(int32_t result) { return result == Restore::NoTargets; }
    static int NextPage(int32_t result) { return result == Restore::NoTargets ? kPageRestoreNotRequired : kPageRestoreConfirm; }
};

// Saving: copies the files; Next ends the job and shows the finished page.
struct SaveOperation {
    static constexpr int kTitle = AAA::Msg::SavePageTitle, kSubtitle = AAA::Msg::SavePageText,
                         kWords = AAA::Msg::SaveRemaining;
    static void Start(Restore::RestoreMain& job, void* user, CompletionCallback callback);
    static QString Shown(const Restore::RestoreMain& job);
    static bool EndsJobOnNext(int32_t) { return true; }
    static int NextPage(int32_t) { return kPageRestoreFinished; }
};

using PageVerifying = PageVerifyingBase<VerifyOperation>;
using PageSaving = PageVerifyingBase<SaveOperation>;
