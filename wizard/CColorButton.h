#pragma once
// The launcher's large start button: a push button that paints itself with a
// flat background, a raised or sunken edge, an image at the top left and a
// word-wrapped caption, like the original owner-drawn button.
#include <QColor>
#include <QPixmap>
#include <QPushButton>

class CColorButton : public QPushButton {
public:
    explicit CColorButton(QWidget* parent = nullptr);

    void SetImage(const QPixmap& image) { image_ = image; }
    void SetColors(QColor text, QColor background);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPixmap image_;
    QColor textColor_{Qt::black};
    QColor backgroundColor_{Qt::white};
};
