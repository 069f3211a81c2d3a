#include "PageRestoreConfirm.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Artwork.h"
#include "Kalvory_Recover.h"
#include "RecoveredFiles.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

QString KindLine(int id, const KindTotal& total) {
    return TextWith(id, {std::to_string(total.files), KalvoryCli::HumanBytes(total.bytes)});
}

QLabel* Heading(QWidget* parent, QWidget* buddy) {
    auto* label = new QLabel(parent);
    label->setBuddy(buddy);
    return label;
}

} // namespace

PageRestoreConfirm::PageRestoreConfirm(Wizard& sheet)
    : WizardPage(sheet), shown_(new QPlainTextEdit(this)), summary_(new QLabel(this)), strip_(new ThumbnailStrip(this)),
      videos_(new VideoList(this)) {
    SetHeader(AAA::Msg::ConfirmPageTitle, AAA::Msg::ConfirmPageText);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("206"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    shown_->setObjectName(QStringLiteral("305"));
    shown_->setReadOnly(true);
    shown_->setFixedHeight(shown_->fontMetrics().lineSpacing() * 3 + 12);
    summary_->setObjectName(QStringLiteral("found"));
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    picturesHeading_ = Heading(this, strip_);
    videosHeading_ = Heading(this, videos_);
    videosHeading_->setText(Text(AAA::Msg::VideosHeading));
    picturesHeading_->setText(TextWith(AAA::Msg::PicturesShown, {std::to_string(kMaxThumbnails)}));
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(shown_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(summary_);
    layout->addWidget(picturesHeading_);
    layout->addWidget(strip_);
    layout->addWidget(videosHeading_);
    layout->addWidget(videos_);
    layout->addStretch();
    setTabOrder(shown_, strip_);
    setTabOrder(strip_, videos_);
}

PageRestoreConfirm::~PageRestoreConfirm() { StopPreview(); }

void PageRestoreConfirm::initializePage() {
    SetButtons(kNextButton);
    reported_ = false;
    Restore::RestoreMain* job = Sheet().Job();
    source_ = job ? QString::fromStdU16String(Restore::JobSourcePath(*job)) : QString();
    shown_->setPlainText(source_);
    const FoundFiles found = job && job->Strategy() ? CollectFoundFiles(job->Strategy()->Root()) : FoundFiles{};
    ShowFound(found);
    StartPreview(found);
    watch_ = WatchSource(source_, [this](const QString& changed) { SourceChanged(changed); });
}

void PageRestoreConfirm::ShowFound(const FoundFiles& found) {
    QStringList lines{KindLine(AAA::Msg::FoundAvchdVideos, found.Of(FileKind::AvchdVideo)),
                      KindLine(AAA::Msg::FoundDvClips, found.Of(FileKind::DvClip)),
                      KindLine(AAA::Msg::FoundStills, found.Of(FileKind::Still)),
                      KindLine(AAA::Msg::FoundOtherFiles, found.Of(FileKind::Other))};
    lines.append(TextWith(AAA::Msg::FoundBy,
                          {std::to_string(found.Count(FoundBy::Directory)), std::to_string(found.Count(FoundBy::Deleted)),
                           std::to_string(found.Count(FoundBy::FoundFolder)), std::to_string(found.Count(FoundBy::Scan))}));
    summary_->setText(lines.join(QLatin1Char('\n')));
    strip_->Reset(found.stills);
    videos_->Reset(found.videos);
    picturesHeading_->setVisible(!found.stills.empty());
    strip_->setVisible(!found.stills.empty());
    videosHeading_->setVisible(!found.videos.empty());
    videos_->setVisible(!found.videos.empty());
}

void PageRestoreConfirm::StartPreview(const FoundFiles& found) {
    StopPreview();
    previewDone_ = false;
    Restore::RestoreMain* job = Sheet().Job();
    const AAA::FileStream* stream = job && job->Strategy() ? job->Strategy()->Reader().stream.get() : nullptr;
    if (!stream) {
        previewDone_ = true;
        return;
    }
    const int generation = ++generation_;
    PreviewCallbacks callbacks;
    // Each result is posted to this page's thread and dropped once a newer preview began.
    callbacks.thumbnail = [this, generation](size_t index, QImage image, ThumbnailFrom) {
        QMetaObject::invokeMethod(this, [this, generation, index, image] {
            if (generation == generation_)
                strip_->SetThumbnail(index, image);
        }, Qt::QueuedConnection);
    };
    callbacks.duration = [this, generation](size_t index, double seconds) {
        QMetaObject::invokeMethod(this, [this, generation, index, seconds] {
            if (generation == generation_)
                videos_->SetDuration(index, seconds);
        }, Qt::QueuedConnection);
    };
    callbacks.finished = [this, generation] {
        QMetaObject::invokeMethod(this, [this, generation] { previewDone_ = previewDone_ || generation == generation_; },
                                  Qt::QueuedConnection);
    };
    PreviewSource source{job->sourcePath, stream->Origin(), stream->blockSize};
    preview_ = std::make_unique<PreviewWorker>(std::move(source), found.stills, found.videos, std::move(callbacks));
}

// The card is the save's from Next on, and the job's to end on a cancel.
void PageRestoreConfirm::StopPreview() {
    if (preview_)
        preview_->Stop();
    preview_.reset();
    ++generation_;
}

void PageRestoreConfirm::SourceChanged(const QString& changedPath) {
    if (reported_ || source_.isEmpty() || !changedPath.startsWith(source_, Qt::CaseInsensitive))
        return;
    reported_ = true;
    watch_.reset();
    StopPreview();
    Sheet().Prompts().ShowError(this, Text(AAA::Msg::SourceChanged));
    Sheet().PressCancel();
}

bool PageRestoreConfirm::validatePage() {
    watch_.reset();
    StopPreview();
    return true;
}

bool PageRestoreConfirm::QueryCancel() {
    watch_.reset();
    StopPreview();
    return true;
}

int PageRestoreConfirm::nextId() const { return kPageSaving; }
