#include "Artwork.h"

#include <QPainter>
#include <QSvgRenderer>

namespace {

QPixmap Render(const QString& resource, QSize size) {
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter);
    return pixmap;
}

} // namespace

QPixmap HeaderImage() { return Render(QStringLiteral(":/kalvory/header.svg"), {49, 49}); }

QPixmap WatermarkImage() { return Render(QStringLiteral(":/kalvory/watermark.svg"), {164, 314}); }

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Render(QStringLiteral(":/kalvory/kalvory.svg"), {size, size}));
    return icon;
}
