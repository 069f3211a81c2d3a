#pragma once
// The project's own artwork, drawn as SVG and rendered by Qt at the sizes the
// sheet and the launcher use.
#include <QIcon>
#include <QPixmap>

// 49x49: the wizard header image and the start button's image.
QPixmap HeaderImage();
// 164x314: the watermark of the exterior pages.
QPixmap WatermarkImage();
QIcon AppIcon();
