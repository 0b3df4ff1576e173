#include "platform/qt/Typography.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QWidget>

namespace companion {

QColor toneColor(const QPalette& palette, Tone tone) {
    QColor color = palette.color(QPalette::WindowText);
    switch (tone) {
        case Tone::Primary:
            break;
        case Tone::Secondary:
            color.setAlphaF(0.55f);
            break;
        case Tone::Tertiary:
            color.setAlphaF(0.3f);
            break;
    }
    return color;
}

void setTone(QWidget& widget, Tone tone) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, toneColor(palette, tone));
    widget.setPalette(palette);
}

QFont systemFont(int pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixels, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

QFrame* makeSeparatorLine() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setFixedHeight(1);
    QPalette palette = line->palette();
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(0.15f);
    palette.setColor(QPalette::WindowText, color);
    line->setPalette(palette);
    return line;
}

}  // namespace companion
