#pragma once
// The confirmation page's previews: a one-row strip of still thumbnails,
// filled in as the preview worker decodes them, and the list of videos with
// their sizes and, once read, the AVCHD streams' durations.
#include <QListWidget>
#include <QTreeWidget>
#include <vector>

#include "FoundFiles.h"

class ThumbnailStrip : public QListWidget {
public:
    explicit ThumbnailStrip(QWidget* parent = nullptr);
    // One blank tile per still, up to the preview's bound.
    void Reset(const std::vector<FoundFile>& stills);
    void SetThumbnail(size_t index, const QImage& image);
    // Tiles that hold a picture.
    int Filled() const { return filled_; }

private:
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
