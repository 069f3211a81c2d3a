#include "PreviewWorker.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include "AAA_Exceptions.h"
#include "AAA_SourceOpener.h"
#include "AVCHD_Duration.h"
#include "Picture_ExifThumbnail.h"

namespace {

// A file's data, read from its ranges of the volume. It seeks the source as
// a plain file stream: the job's progress and checkpoints are not this
// thread's to move.
class RangesStream final : public AAA::Stream {
public:
    RangesStream(AAA::FileStream& volume, const FoundFile& file) : volume_(volume), file_(file) {
        uint64_t total = 0;
        for (const AAA::ByteRange& range : file.data)
            total += range.length;
        length_ = std::min(total, file.size);
    }
    int64_t Seek(int64_t offset, int origin) override {
        const int64_t base = origin == AAA::SeekCurrent ? static_cast<int64_t>(position_)
                                                        : origin == AAA::SeekEnd ? static_cast<int64_t>(length_) : 0;
        position_ = static_cast<uint64_t>(std::max<int64_t>(0, base + offset));
        return static_cast<int64_t>(position_);
    }
    uint32_t Read(void* buffer, uint32_t count) override {
        auto* out = static_cast<uint8_t*>(buffer);
        uint32_t done = 0;
        uint64_t at = 0;
        for (const AAA::ByteRange& range : file_.data) {
            if (done == count || position_ >= length_)
                break;
            if (position_ < at + range.length) {
                const uint64_t inside = position_ - at;
                const uint64_t want = std::min<uint64_t>({count - done, range.length - inside, length_ - position_});
                volume_.AAA::FileStream::Seek(static_cast<int64_t>(range.start + inside), AAA::SeekBegin);
                const uint32_t got = volume_.Read(out + done, static_cast<uint32_t>(want));
                done += got;
                position_ += got;
                if (got < want)
                    break;
            }
            at += range.length;
        }
        return done;
    }
    void Write(const void*, uint32_t) override { throw AAA::InvalidDataException(); }
    int64_t Length() override { return static_cast<int64_t>(length_); }

private:
    AAA::FileStream& volume_;
    const FoundFile& file_;
    uint64_t length_ = 0;
    uint64_t position_ = 0;
};

std::vector<uint8_t> ReadFront(RangesStream& file, uint64_t count) {
    std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(count, static_cast<uint64_t>(file.Length()))));
    file.Seek(0, AAA::SeekBegin);
    bytes.resize(file.Read(bytes.data(), static_cast<uint32_t>(bytes.size())));
    return bytes;
}

QImage DecodeSmall(const uint8_t* bytes, size_t size) {
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    const QSize full = reader.size();
    if (full.isValid() && (full.width() > kThumbnailSize.width() || full.height() > kThumbnailSize.height()))
        reader.setScaledSize(full.scaled(kThumbnailSize, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > kThumbnailSize.width() || image.height() > kThumbnailSize.height()))
        image = image.scaled(kThumbnailSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace

QImage ThumbnailFromExif(const std::vector<uint8_t>& head) {
    const std::optional<AAA::ByteRange> thumbnail = Kalvory::FindExifThumbnail(head.data(), head.size());
    return thumbnail ? DecodeSmall(head.data() + thumbnail->start, thumbnail->length) : QImage();
}

QImage ThumbnailFromPicture(const std::vector<uint8_t>& whole) { return DecodeSmall(whole.data(), whole.size()); }

PreviewWorker::PreviewWorker(PreviewSource source, std::vector<FoundFile> stills, std::vector<FoundFile> videos,
                             PreviewCallbacks callbacks)
    : source_(std::move(source)), stills_(std::move(stills)), videos_(std::move(videos)),
      callbacks_(std::move(callbacks)) {
    if (stills_.size() > kMaxThumbnails)
        stills_.resize(kMaxThumbnails);
    thread_ = std::thread([this] { Run(); });
}

PreviewWorker::~PreviewWorker() { Stop(); }

void PreviewWorker::Stop() {
    stop_.store(true);
    if (thread_.joinable())
        thread_.join();
}

void PreviewWorker::Run() {
    std::unique_ptr<Restore::ProgressFileStream> volume;
    try {
        volume = Restore::OpenSource(source_.path);
        volume->blockSize = source_.blockSize;
        volume->SetOrigin(source_.origin);
    } catch (...) {
        volume.reset(); // a card gone since the search: nothing to preview
    }
    for (size_t k = 0; volume && k < stills_.size() && !stop_.load(); ++k) {
        QImage image;
        try {
            RangesStream file(*volume, stills_[k]);
            image = ThumbnailFromExif(ReadFront(file, Kalvory::kExifHeadBytes));
            if (image.isNull() && stills_[k].size <= kMaxDecodedBytes && !stop_.load())
                image = ThumbnailFromPicture(ReadFront(file, stills_[k].size));
        } catch (...) {
            image = QImage(); // an unreadable picture shows as none
        }
        callbacks_.thumbnail(k, std::move(image));
    }
    for (size_t k = 0; volume && k < videos_.size() && !stop_.load(); ++k) {
        if (videos_[k].kind != FileKind::AvchdVideo)
            continue;
        double seconds = -1;
        try {
            RangesStream file(*volume, videos_[k]);
            seconds = Kalvory::StreamSeconds(file, static_cast<uint64_t>(file.Length())).value_or(-1);
        } catch (...) {
            seconds = -1;
        }
        callbacks_.duration(k, seconds);
    }
    if (!stop_.load())
        callbacks_.finished();
}
