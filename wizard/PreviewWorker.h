#pragma once
// Reads what the confirmation page previews from the card, on a thread of its
// own: thumbnails of the first stills (the Exif thumbnail when there is one,
// else the picture decoded small) and the AVCHD streams' durations. It opens
// its own read-only stream on the source, so it never moves the job's, and
// hands every result to the interface thread's callbacks in order.
#include <QImage>
#include <QSize>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "AAA_WideString.h"
#include "FoundFiles.h"

// Where the card's volume is read: the job's source and its stream's geometry.
struct PreviewSource {
    AAA::WString path;
    uint64_t origin = 0;
    uint32_t blockSize = 512;
};

// Bounds of the preview: so many pictures, none decoded from more bytes, each this small.
constexpr size_t kMaxThumbnails = 200;
constexpr uint64_t kMaxDecodedBytes = 24ull << 20;
constexpr QSize kThumbnailSize{96, 72};

struct PreviewCallbacks {
    // Still `index` (of those given); a null image when neither could be decoded.
    std::function<void(size_t index, QImage image)> thumbnail;
    // Video `index` (of those given): its seconds, or < 0 when its packets do not tell.
    std::function<void(size_t index, double seconds)> duration;
    std::function<void()> finished;
};

class PreviewWorker {
public:
    // The callbacks run on the worker: each must post to its own thread.
    PreviewWorker(PreviewSource source, std::vector<FoundFile> stills, std::vector<FoundFile> videos,
                  PreviewCallbacks callbacks);
    ~PreviewWorker();
    PreviewWorker(const PreviewWorker&) = delete;
    PreviewWorker& operator=(const PreviewWorker&) = delete;

    // Asks the worker to stop and waits for it: at most one read or decode.
    void Stop();

private:
    void Run();

    PreviewSource source_;
    std::vector<FoundFile> stills_;
    std::vector<FoundFile> videos_;
    PreviewCallbacks callbacks_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A still's thumbnail, fitted into kThumbnailSize: from the Exif thumbnail
// `head` (its first bytes) holds, or from the whole picture; null when there
// is none or it does not decode.
QImage ThumbnailFromExif(const std::vector<uint8_t>& head);
QImage ThumbnailFromPicture(const std::vector<uint8_t>& whole);
