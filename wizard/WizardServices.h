#pragma once
// What the wizard asks of the world outside its pages: the drive list, the
// destination check, the clock, and the modal dialogs. Tests replace these to
// drive the real pages without a person at the screen.
#include <QString>
#include <QWidget>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "DestinationCheck.h"
#include "DriveList.h"

// The wizard runs the directory search followed by the sector search.
constexpr int32_t kWizardStrategyType = 1;

// The modal dialogs a page opens.
class Prompter {
public:
    virtual ~Prompter() = default;
    // A message box with the error icon and caption 1000.
    virtual void ShowError(QWidget* owner, const QString& text) = 0;
    // Question 1005; true for Yes.
    virtual bool AskCancel(QWidget* owner) = 0;
    // The chosen folder or image file; empty when the user chose none.
    virtual QString ChooseFolder(QWidget* owner) = 0;
    virtual QString ChooseImage(QWidget* owner) = 0;
    // The desktop's file manager on `folder`; false when none could be started.
    virtual bool OpenFolder(const QString& folder) = 0;
    // The recovery report written at `path` (empty: `text` says why there is none).
    virtual void ShowReport(QWidget* owner, const QString& path, const QString& text) = 0;
};

class DialogPrompter final : public Prompter {
public:
    void ShowError(QWidget* owner, const QString& text) override;
    bool AskCancel(QWidget* owner) override;
    QString ChooseFolder(QWidget* owner) override;
    QString ChooseImage(QWidget* owner) override;
    bool OpenFolder(const QString& folder) override;
    void ShowReport(QWidget* owner, const QString& path, const QString& text) override;
};

using DestinationCheck =
    std::function<KalvoryCli::DestinationVerdict(const std::filesystem::path& source, const std::filesystem::path& folder)>;

int64_t SecondsSinceEpoch();

struct WizardServices {
    int32_t strategyType = kWizardStrategyType;
    std::function<std::vector<DriveItem>()> listDrives = [] { return ListCardDrives(); };
    DestinationCheck checkDestination = KalvoryCli::CheckDestination;
    std::function<int64_t()> nowSeconds = SecondsSinceEpoch;
    std::shared_ptr<Prompter> prompter = std::make_shared<DialogPrompter>();
};
