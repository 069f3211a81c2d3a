#pragma once
// The confirmation page's previews: a one-row strip of still thumbnails,
// filled in as the preview worker decodes them, and the list of videos with
// their sizes and, once read, the AVCHD streams' durations.
#include <QElapsedTimer>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <utility>
#include <vector>

#include "FoundFiles.h"

class ThumbnailStrip : public QListWidget {
public:
    explicit ThumbnailStrip(QWidget* parent = nullptr);
    // One blank tile per still, up to the preview's bound.
    void Reset(const std::vector<FoundFile>& stills);
    // Takes the thumbnail of tile `index`; it is shown within a few event-loop turns.
    void Queue(size_t index, QImage image);
    // Tiles that hold a picture.
    int Filled() const { return filled_; }
    bool Showing() const { return !queued_.empty(); }

private:
    // Shows queued thumbnails for a slice of time, so that many arriving at
    // once never hold the event loop.
    void ShowSome();
    void SetThumbnail(size_t index, const QImage& image);

    std::deque<std::pair<size_t, QImage>> queued_;
    QTimer drain_;
    int filled_ = 0;
};

class VideoList : public QTreeWidget {
public:
    enum Column : int { kName, kSize, kDuration };
    explicit VideoList(QWidget* parent = nullptr);
    void Reset(const std::vector<FoundFile>& videos);
    // `seconds` < 0: the stream's packets do not tell.
    void SetDuration(size_t index, double seconds);
};

// "m:ss", or "h:mm:ss" from an hour on.
QString DurationText(double seconds);
