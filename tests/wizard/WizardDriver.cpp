#include "WizardDriver.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "AAA_Exceptions.h"
#include "AAA_Progress.h"
#include "PageSelectDrive.h"
#include "PageSelectFolder.h"
#include "restorelib/RestoreJobTestSupport.h"
#include "support/FatImageBuilder.h"

namespace WizardTest {

namespace {

std::string Jpeg(size_t size, uint32_t seed) {
    std::string bytes = RestoreTest::Pattern(size, seed);
    const std::string head("\xFF\xD8\xFF\xE1\x00\x10" "Exif\0\0", 12);
    bytes.replace(0, head.size(), head);
    bytes[size - 2] = '\xFF';
    bytes[size - 1] = '\xD9';
    return bytes;
}

} // namespace

ButtonState ButtonsOf(const Wizard& wizard) {
    const auto visible = [&](QWizard::WizardButton which) { return !wizard.button(which)->isHidden(); };
    const auto enabled = [&](QWizard::WizardButton which) { return wizard.button(which)->isEnabled(); };
    return {visible(QWizard::BackButton),   visible(QWizard::NextButton),   enabled(QWizard::NextButton),
            visible(QWizard::FinishButton), enabled(QWizard::FinishButton), enabled(QWizard::CancelButton)};
}

WizardRun::WizardRun(std::vector<DriveItem> drives, int32_t strategyType)
    : drives_(std::make_shared<std::vector<DriveItem>>(std::move(drives))) {
    services_.strategyType = strategyType;
    services_.listDrives = [list = drives_] { return *list; };
    services_.nowSeconds = [now = now_] { return *now; };
    services_.prompter = prompter_;
}

WizardRun::~WizardRun() {
    wizard_.reset();
    QApplication::processEvents(); // lets deleteLater'd watchers go
}

void WizardRun::SetDestinationCheck(DestinationCheck check) { services_.checkDestination = std::move(check); }

void WizardRun::Show() {
    wizard_ = std::make_unique<Wizard>(services_);
    QObject::connect(wizard_.get(), &QWizard::currentIdChanged, [this](int id) {
        if (id < 0)
            return; // the sheet closing
        visited_.push_back(id);
        buttons_.push_back(ButtonsOf(*wizard_));
        jobOnEntry_.push_back(wizard_->Job() != nullptr);
    });
    QObject::connect(wizard_.get(), &QDialog::finished, [this](int result) {
        closed_ = true;
        result_ = result;
    });
    wizard_->show();
}

void WizardRun::ChooseImage(const fs::path& image) {
    auto* page = static_cast<PageSelectDrive*>(wizard_->page(kPageSelectDrive));
    prompter_->image = QString::fromStdString(image.string());
    QComboBox* list = page->List();
    const int entry = list->count() - 1; // "Image file…" closes the list
    list->setCurrentIndex(entry);
    emit list->activated(entry);
}

void WizardRun::ChooseFolder(const fs::path& folder) {
    auto* page = static_cast<PageSelectFolder*>(wizard_->page(kPageSelectFolder));
    prompter_->folder = QString::fromStdString(folder.string());
    page->OpenButton()->click();
}

void WizardRun::ClickNext() { wizard_->button(QWizard::NextButton)->click(); }

void WizardRun::ClickCancel() { wizard_->button(QWizard::CancelButton)->click(); }

bool WizardRun::WaitForPage(int id, int timeoutMs) {
    return WaitUntil([&] { return wizard_->currentId() == id; }, timeoutMs);
}

bool WizardRun::WaitClosed(int timeoutMs) {
    return WaitUntil([&] { return closed_; }, timeoutMs);
}

namespace WorkerHold {
namespace {

struct State {
    std::mutex mutex;
    std::condition_variable released;
    std::atomic<bool> fired{false};
    std::atomic<bool> held{false};
    bool open = false;
    At at = At::FirstCheckpoint;
    Then then = Then::Wait;
    int percent = 0;
    std::thread::id interfaceThread;
};

State state;

void Checkpoint(Restore::JobProgress& job) {
    if (std::this_thread::get_id() == state.interfaceThread || state.fired.load())
        return;
    if (state.at == At::AfterFirstWrite && Restore::ProgressWritten.load() == 0)
        return;
    state.fired = true;
    if (state.then == Then::Fail)
        throw AAA::SourceLostException(); // ends the job: a single file's failure no longer does
    if (state.percent > 0)
        job.percent.store(state.percent);
    std::unique_lock<std::mutex> lock(state.mutex);
    state.held = true;
    state.released.wait(lock, [] { return state.open; });
}

} // namespace

void Install(Restore::RestoreMain& job, At at, Then then, int percent) {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.open = false;
        state.at = at;
        state.then = then;
        state.percent = percent;
        state.interfaceThread = std::this_thread::get_id();
    }
    state.fired = false;
    state.held = false;
    job.progress.checkpoint = &Checkpoint;
}

bool WaitHeld(int timeoutMs) { return WaitUntil([] { return state.held.load(); }, timeoutMs); }

void Release() {
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        state.open = true;
    }
    state.released.notify_all();
}

} // namespace WorkerHold

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

std::vector<CardFile> CameraFiles() {
    return {
        {"DCIM/100CDPFP/IMGA0001.JPG", Jpeg(40000, 1)},
        {"DCIM/100CDPFP/IMGA0002.JPG", Jpeg(52000, 2)},
        {"PRIVATE/AVCHD/BDMV/INDEX.BDM", "INDX0200 index of clips"},
        {"PRIVATE/AVCHD/BDMV/MOVIEOBJ.BDM", "MOBJ0200 movie objects"},
    };
}

std::vector<CardFile> OneLargeClip() { return {{"DCIM/100CDPFP/IMGA0003.JPG", Jpeg(1'500'000, 3)}}; }

void WriteCard(const fs::path& image, const std::vector<CardFile>& files) {
    TestSupport::FatImageBuilder card(TestSupport::FatVolumeOptions::Defaults(TestSupport::FatType::Fat12));
    for (const CardFile& file : files)
        card.AddFile(file.path, file.bytes);
    card.Build().WriteTo(image);
}

} // namespace WizardTest
