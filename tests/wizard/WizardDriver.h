#pragma once
// Drives the real wizard on card images: scripted dialogs, a settable clock,
// a fixed drive list, and the steps a person takes. Shared by the tests and
// the page renderer.
#include <QAbstractButton>
#include <QStringList>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Wizard.h"
#include "WizardServices.h"

namespace WizardTest {

namespace fs = std::filesystem;

// The strategy the tests run: the wizard's own (directory and sector search).
// Set it to 0 (directory search alone) to tell a sector-search fault from a
// wizard fault; every test passes with either.
constexpr int32_t kCardStrategy = kWizardStrategyType;

class ScriptedPrompter final : public Prompter {
public:
    QStringList errors;          // every error text shown, in order
    int questions = 0;           // cancel questions asked
    std::function<bool()> answerCancel = [] { return false; };
    QString folder;              // what the folder browser returns
    QString image;               // what the image chooser returns
    QStringList openedFolders;   // every folder the file manager was asked to show
    QStringList reports;         // the path of every report shown
    QString reportText;          // the last report shown

    void ShowError(QWidget*, const QString& text) override { errors.append(text); }
    bool AskCancel(QWidget*) override {
        ++questions;
        return answerCancel();
    }
    QString ChooseFolder(QWidget*) override { return folder; }
    QString ChooseImage(QWidget*) override { return image; }
    bool OpenFolder(const QString& folder) override {
        openedFolders.append(folder);
        return true;
    }
    void ShowReport(QWidget*, const QString& path, const QString& text) override {
        reports.append(path);
        reportText = text;
    }
};

// The state of the sheet's buttons as a page was entered.
struct ButtonState {
    bool backVisible = false;
    bool nextVisible = false;
    bool nextEnabled = false;
    bool finishVisible = false;
    bool finishEnabled = false;
    bool cancelEnabled = false;
    bool operator==(const ButtonState&) const = default;
};
ButtonState ButtonsOf(const Wizard& wizard);

// One wizard run with scripted services.
class WizardRun {
public:
    explicit WizardRun(std::vector<DriveItem> drives = {}, int32_t strategyType = kCardStrategy);
    ~WizardRun();

    Wizard& Sheet() { return *wizard_; }
    ScriptedPrompter& Prompts() { return *prompter_; }
    int64_t& Now() { return *now_; }
    std::vector<DriveItem>& Drives() { return *drives_; }
    void SetDestinationCheck(DestinationCheck check);

    // Page ids in the order shown, with the buttons as each page came up.
    const std::vector<int>& Visited() const { return visited_; }
    const std::vector<ButtonState>& ButtonsOnEntry() const { return buttons_; }
    // Whether the sheet still had a job as each page came up.
    const std::vector<bool>& JobOnEntry() const { return jobOnEntry_; }
    bool Closed() const { return closed_; }
    int Result() const { return result_; }

    void Show();
    // The "Image file…" entry of the drive list, answered with `image`.
    void ChooseImage(const fs::path& image);
    // Button 301 of the folder page, answered with `folder`.
    void ChooseFolder(const fs::path& folder);
    // Clicks Next as a person would; nothing happens while it is disabled.
    void ClickNext();
    void ClickCancel();
    bool WaitForPage(int id, int timeoutMs = 15000);
    bool WaitClosed(int timeoutMs = 15000);

private:
    std::shared_ptr<ScriptedPrompter> prompter_ = std::make_shared<ScriptedPrompter>();
    std::shared_ptr<int64_t> now_ = std::make_shared<int64_t>(1'700'000'000);
    std::shared_ptr<std::vector<DriveItem>> drives_;
    WizardServices services_;
    std::unique_ptr<Wizard> wizard_;
    std::vector<int> visited_;
    std::vector<ButtonState> buttons_;
    std::vector<bool> jobOnEntry_;
    bool closed_ = false;
    int result_ = -1;
};

// Stops a job's worker at one of its checkpoints (source seeks, destination
// writes), so a test acts at a known point. One hold per process at a time.
namespace WorkerHold {
enum class At { FirstCheckpoint, AfterFirstWrite };
enum class Then { Wait, Fail }; // wait for Release(), or lose the card there
// `percent` > 0 is reported as the job's progress when the hold is reached.
void Install(Restore::RestoreMain& job, At at, Then then = Then::Wait, int percent = 0);
bool WaitHeld(int timeoutMs = 15000);
void Release();
} // namespace WorkerHold

// Processes events until `condition` holds or the time is up.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000);

// A small camcorder card: JPEG stills and AVCHD management files.
struct CardFile {
    std::string path;
    std::string bytes;
};
std::vector<CardFile> CameraFiles();
// One clip large enough to need several copy pieces.
std::vector<CardFile> OneLargeClip();
// A FAT16 volume image holding `files` (none: an empty card).
void WriteCard(const fs::path& image, const std::vector<CardFile>& files);

} // namespace WizardTest
