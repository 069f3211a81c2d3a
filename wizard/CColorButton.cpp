#include "CColorButton.h"

#include <QPainter>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

CColorButton::CColorButton(QWidget* parent) : QPushButton(parent) {}

void CColorButton::SetColors(QColor text, QColor background) {
    textColor_ = text;
    backgroundColor_ = background;
    update();
}

void CColorButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.save();
    const QRect item = rect();
    painter.fillRect(item, backgroundColor_);
    QRect textRect = item.adjusted(2, 2, -2, -2);
    if (isDown())
        textRect.translate(1, 1);
    qDrawWinButton(&painter, item, palette(), isDown());
    painter.drawPixmap(textRect.left() + 8, textRect.top() + 7, image_);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = item.adjusted(4, 4, -4, -4);
        focus.backgroundColor = backgroundColor_;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
    painter.setPen(textColor_);
    painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
    painter.restore();
}
