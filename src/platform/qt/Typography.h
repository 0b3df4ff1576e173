#pragma once

#include <QFont>
#include <QPalette>

class QFrame;
class QWidget;

namespace companion {

// The Mac's label colours: the text colour of the current palette, faded by the same degree, so
// they follow a dark palette too.
enum class Tone { Primary, Secondary, Tertiary };
QColor toneColor(const QPalette& palette, Tone tone);
void setTone(QWidget& widget, Tone tone);

// Sizes are in device-independent pixels, the unit of the Mac's points: the windows then keep
// the proportions they were drawn with whatever the screen's dots per inch.
QFont systemFont(int pixels, QFont::Weight weight);
// Digits of equal width, so codes and times do not shift from one digit to the next.
QFont monospacedFont(int pixels, QFont::Weight weight);

// The faint line between groups of a window, in the text colour so a dark palette keeps it.
QFrame* makeSeparatorLine();

}  // namespace companion
