// How fast the confirmation page's thumbnail strip fills on a card of many
// stills, and the longest the interface thread went without running its
// event loop meanwhile (a 5 ms heartbeat timer: a late tick is a stall).
// Usage: wizard_preview_bench [STILLS] [exif|decode]
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "PageRestoreConfirm.h"
#include "PreviewCard.h"
#include "support/TempDir.h"

namespace {

using namespace WizardTest;

constexpr int kHeartbeatMs = 5;
constexpr qint64 kFillLimitMs = 1000;
constexpr qint64 kStallLimitMs = 50;

// The longest gap between heartbeats, less the period, since Start().
class StallMeter {
public:
    StallMeter() {
        timer_.setInterval(kHeartbeatMs);
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const qint64 late = clock_.restart() - kHeartbeatMs;
            if (late > longest_) {
                longest_ = late;
                at_ = since_.elapsed();
            }
        });
    }
    void Start() {
        longest_ = 0;
        clock_.start();
        since_.start();
        timer_.start();
    }
    qint64 Longest() const { return longest_; }
    // When the longest stall ended, from Start().
    qint64 LongestAt() const { return at_; }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    QElapsedTimer since_;
    qint64 longest_ = 0;
    qint64 at_ = 0;
};

std::vector<CardFile> Stills(int count, bool exif) {
    std::vector<CardFile> files = ManyStills(count);
    if (!exif)
        for (size_t k = 0; k < files.size(); ++k)
            files[k].bytes = StillJpeg(QColor::fromHsv(static_cast<int>(k) * 37 % 360, 200, 220), std::nullopt, {640, 480});
    return files;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const bool exif = argc < 3 || std::string(argv[2]) != "decode";
    TestSupport::TempDir scratch("kalvory-preview-bench");
    const fs::path image = scratch.Path() / "card.img";
    WriteBigCard(image, Stills(count, exif));
    fs::create_directories(scratch.Path() / "out");

    WizardRun run;
    run.Show();
    run.ChooseImage(image);
    run.ClickNext();
    run.ChooseFolder(scratch.Path() / "out");
    StallMeter stalls;
    QElapsedTimer sinceConfirm;
    QElapsedTimer sinceStart;
    qint64 confirmAt = 0;
    QObject::connect(&run.Sheet(), &QWizard::currentIdChanged, [&](int id) {
        if (id == kPageRestoreConfirm) {
            sinceConfirm.start(); // the page has just been set up, its tree walk included
            confirmAt = sinceStart.elapsed();
        }
    });
    stalls.Start();
    sinceStart.start();
    run.ClickNext();
    if (!run.WaitForPage(kPageRestoreConfirm, 60000)) {
        std::fprintf(stderr, "the search did not end: %s\n", qPrintable(run.Prompts().errors.join("|")));
        return 2;
    }
    auto* page = static_cast<PageRestoreConfirm*>(run.Sheet().currentPage());
    const int tiles = page->Strip()->count();
    WaitUntil([&] { return page->Strip()->Filled() == tiles || page->PreviewDone(); }, 60000);
    const qint64 filledMs = sinceConfirm.elapsed();
    const qint64 stallMs = stalls.Longest();
    std::printf("stills %d (%s), tiles %d filled %d in %lld ms (limit %lld); longest stall %lld ms (limit %lld), "
                "ending %+lld ms from the page's start\n",
                count, exif ? "Exif thumbnails" : "decoded pictures", tiles, page->Strip()->Filled(),
                static_cast<long long>(filledMs), static_cast<long long>(kFillLimitMs), static_cast<long long>(stallMs),
                static_cast<long long>(kStallLimitMs), static_cast<long long>(stalls.LongestAt() - confirmAt));
    return page->Strip()->Filled() == tiles && filledMs <= kFillLimitMs && stallMs <= kStallLimitMs ? 0 : 1;
}
