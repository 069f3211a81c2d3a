#include "PreviewWidgets.h"

#include <QHeaderView>
#include <QPixmap>
#include <QScrollBar>

#include "PreviewWorker.h"
#include "RecoveredFiles.h"
#include "Texts.h"
#include "AAA_MessageIds.h"

namespace {

constexpr int kTileSpacing = 4;
constexpr int kVideoRowsShown = 4;
constexpr qint64 kSliceMs = 4;

QPixmap BlankTile() {
    QPixmap tile(kThumbnailSize);
    tile.fill(QColor(0xE0, 0xE0, 0xE0));
    return tile;
}

} // namespace

ThumbnailStrip::ThumbnailStrip(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("thumbnails"));
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(false);
    setMovement(QListView::Static);
    setUniformItemSizes(true);
    setSpacing(kTileSpacing);
    setIconSize(kThumbnailSize);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    setFixedHeight(kThumbnailSize.height() + 4 * kTileSpacing + 2 * frameWidth() +
                   horizontalScrollBar()->sizeHint().height());
    drain_.setInterval(0);
    connect(&drain_, &QTimer::timeout, this, [this] { ShowSome(); });
}

void ThumbnailStrip::Reset(const std::vector<FoundFile>& stills) {
    clear();
    queued_.clear();
    drain_.stop();
    filled_ = 0;
    const QIcon blank(BlankTile());
    for (size_t k = 0; k < stills.size() && k < kMaxThumbnails; ++k) {
        auto* tile = new QListWidgetItem(blank, QString(), this);
        const QString name = QString::fromStdU16String(stills[k].name);
        tile->setToolTip(name);
        tile->setData(Qt::AccessibleTextRole, name);
        tile->setSizeHint(kThumbnailSize + QSize(kTileSpacing, kTileSpacing));
    }
}

void ThumbnailStrip::Queue(size_t index, QImage image) {
    queued_.emplace_back(index, std::move(image));
    if (!drain_.isActive())
        drain_.start();
}

void ThumbnailStrip::ShowSome() {
    QElapsedTimer slice;
    slice.start();
    while (!queued_.empty() && slice.elapsed() < kSliceMs) {
        SetThumbnail(queued_.front().first, queued_.front().second);
        queued_.pop_front();
    }
    if (queued_.empty())
        drain_.stop();
}

void ThumbnailStrip::SetThumbnail(size_t index, const QImage& image) {
    QListWidgetItem* tile = item(static_cast<int>(index));
    if (!tile || image.isNull())
        return;
    tile->setIcon(QIcon(QPixmap::fromImage(image)));
    ++filled_;
}

VideoList::VideoList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("videos"));
    setColumnCount(3);
    setHeaderLabels({Text(AAA::Msg::NameColumn), Text(AAA::Msg::SizeColumn), Text(AAA::Msg::DurationColumn)});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(kName, QHeaderView::Stretch);
    header()->setSectionResizeMode(kSize, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(kDuration, QHeaderView::ResizeToContents);
    setFixedHeight(header()->sizeHint().height() + fontMetrics().lineSpacing() * kVideoRowsShown +
                   8 * kVideoRowsShown / 2 + 2 * frameWidth());
}

void VideoList::Reset(const std::vector<FoundFile>& videos) {
    clear();
    for (const FoundFile& video : videos) {
        auto* row = new QTreeWidgetItem(this);
        row->setText(kName, QString::fromStdU16String(video.name));
        row->setText(kSize, QString::fromStdString(KalvoryCli::HumanBytes(video.size)));
        row->setTextAlignment(kSize, Qt::AlignRight | Qt::AlignVCenter);
        row->setTextAlignment(kDuration, Qt::AlignRight | Qt::AlignVCenter);
    }
}

void VideoList::SetDuration(size_t index, double seconds) {
    if (QTreeWidgetItem* row = topLevelItem(static_cast<int>(index)))
        row->setText(kDuration, seconds < 0 ? QStringLiteral("-") : DurationText(seconds));
}

QString DurationText(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    const long long hours = whole / 3600, minutes = whole / 60 % 60, secs = whole % 60;
    if (hours > 0)
        return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(secs, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(minutes).arg(secs, 2, 10, QLatin1Char('0'));
}
