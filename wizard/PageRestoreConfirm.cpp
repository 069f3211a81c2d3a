#include "PageRestoreConfirm.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "Artwork.h"
#include "Kalvory_Recover.h"
#include "RecoveredFiles.h"
#include "Texts.h"
#include "Wizard.h"
#include "AAA_MessageIds.h"

namespace {

// In the order of FileKind and of FoundBy.
constexpr int kKindTexts[kFileKinds] = {AAA::Msg::FoundAvchdVideos, AAA::Msg::FoundDvClips, AAA::Msg::FoundStills,
                                        AAA::Msg::FoundOtherFiles};
constexpr int kWayTexts[kFoundByWays] = {AAA::Msg::FoundInDirectories, AAA::Msg::FoundAsDeleted,
                                         AAA::Msg::FoundInFoundFolders, AAA::Msg::FoundByScan};

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
    : WizardPage(sheet), shown_(new QPlainTextEdit(this)), strip_(new ThumbnailStrip(this)),
      videos_(new VideoList(this)) {
    SetHeader(AAA::Msg::ConfirmPageTitle, AAA::Msg::ConfirmPageText);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("206"));
    icon->setPixmap(AppIcon().pixmap(32, 32));
    shown_->setObjectName(QStringLiteral("305"));
    shown_->setReadOnly(true);
    shown_->setTabChangesFocus(true); // the previews below are reached with Tab
    shown_->setFixedHeight(shown_->fontMetrics().lineSpacing() * 3 + 12);
    // Kinds on the left, ways of finding on the right: short lines in any language.
    auto* found = new QGridLayout;
    for (size_t k = 0; k < kFileKinds; ++k) {
        kinds_[k] = new QLabel(this);
        ways_[k] = new QLabel(this);
        found->addWidget(kinds_[k], static_cast<int>(k), 0);
        found->addWidget(ways_[k], static_cast<int>(k), 1);
    }
    found->setColumnStretch(1, 1);
    found->setHorizontalSpacing(24);
    found->setVerticalSpacing(0);
    picturesHeading_ = Heading(this, strip_);
    videosHeading_ = Heading(this, videos_);
    videosHeading_->setText(Text(AAA::Msg::VideosHeading));
    picturesHeading_->setText(TextWith(AAA::Msg::PicturesShown, {std::to_string(kMaxThumbnails)}));
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(shown_, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(found);
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

QStringList PageRestoreConfirm::SummaryLines() const {
    QStringList lines;
    for (const QLabel* kind : kinds_)
        lines.append(kind->text());
    for (const QLabel* way : ways_)
        lines.append(way->text());
    return lines;
}

void PageRestoreConfirm::ShowFound(const FoundFiles& found) {
    for (size_t k = 0; k < kFileKinds; ++k)
        kinds_[k]->setText(KindLine(kKindTexts[k], found.kinds[k]));
    for (size_t k = 0; k < kFoundByWays; ++k)
        ways_[k]->setText(TextWith(kWayTexts[k], {std::to_string(found.foundBy[k])}));
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
    callbacks.thumbnail = [this, generation](size_t index, QImage image) {
        QMetaObject::invokeMethod(this, [this, generation, index, image] {
            if (generation == generation_)
                strip_->Queue(index, image);
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
