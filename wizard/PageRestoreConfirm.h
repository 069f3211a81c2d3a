#pragma once
// The page between the search and the copy: files were found, and Next
// starts saving. It tells what was found (by kind and by how), shows the
// first stills and lists the videos while a worker reads their previews.
// Meanwhile the card is watched; a change of the source makes the search
// result stale, so the wizard says so and cancels.
#include <QLabel>
#include <QPlainTextEdit>
#include <array>
#include <memory>

#include "PreviewWidgets.h"
#include "PreviewWorker.h"
#include "SourceWatch.h"
#include "WizardPage.h"

class PageRestoreConfirm : public WizardPage {
public:
    explicit PageRestoreConfirm(Wizard& sheet);
    ~PageRestoreConfirm() override;

    void initializePage() override;
    bool validatePage() override;
    bool QueryCancel() override;
    int nextId() const override;

    // A change notification for `changedPath`.
    void SourceChanged(const QString& changedPath);

    // One line per kind, then one per way of finding.
    QStringList SummaryLines() const;
    ThumbnailStrip* Strip() const { return strip_; }
    VideoList* Videos() const { return videos_; }
    // Whether the worker has read every preview it was given, and they are shown.
    bool PreviewDone() const { return previewDone_ && !strip_->Showing(); }

private:
    void ShowFound(const FoundFiles& found);
    void StartPreview(const FoundFiles& found);
    void StopPreview();

    QPlainTextEdit* shown_;
    std::array<QLabel*, kFileKinds> kinds_{};
    std::array<QLabel*, kFoundByWays> ways_{};
    QLabel* picturesHeading_;
    ThumbnailStrip* strip_;
    QLabel* videosHeading_;
    VideoList* videos_;
    QString source_;
    std::unique_ptr<SourceWatch> watch_;
    std::unique_ptr<PreviewWorker> preview_;
    int generation_ = 0; // results of an earlier preview are dropped
    bool previewDone_ = false;
    bool reported_ = false;
};
