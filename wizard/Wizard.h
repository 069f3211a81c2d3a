#pragma once
// The seven-page recovery sheet. It owns the one restore job of a run: made
// on the drive page and ended, after its worker, on every way out of the
// recovery path (cancel, error, nothing found, finish, closing the window).
#include <QFont>
#include <QWizard>
#include <memory>
#include <optional>
#include <string>

#include "Restore_Thread.h"
#include "SavedRun.h"
#include "WizardServices.h"

enum PageId : int {
    kPageSelectDrive,
    kPageSelectFolder,
    kPageVerifying,
    kPageRestoreConfirm,
    kPageSaving,
    kPageRestoreFinished,
    kPageRestoreNotRequired,
};

class Wizard : public QWizard {
    Q_OBJECT
public:
    explicit Wizard(WizardServices services = {}, QWidget* parent = nullptr);
    ~Wizard() override;

    const WizardServices& Services() const { return services_; }
    Prompter& Prompts() const { return *services_.prompter; }
    Restore::RestoreMain* Job() const { return job_.get(); }

    // Makes the job for `source`; on failure returns the text to show, and no job remains.
    QString CreateJob(const std::string& source);
    void EndJob();
    const QFont& ExteriorTitleFont() const { return exteriorTitleFont_; }
    // What the last job's save wrote, kept as the job ended.
    const std::optional<SavedRun>& LastSave() const { return lastSave_; }

    // Button presses posted to the sheet, carried out later on the interface thread.
    void PressNext();
    void PressCancel();

    void reject() override;
    void done(int result) override;

private:
    WizardServices services_;
    std::unique_ptr<Restore::RestoreMain> job_;
    std::string jobStarted_; // UTC, for the report
    std::optional<SavedRun> lastSave_;
    QFont exteriorTitleFont_;
};
