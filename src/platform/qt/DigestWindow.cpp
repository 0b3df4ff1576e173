#include "platform/qt/DigestWindow.h"

#include <QFrame>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "platform/qt/Typography.h"

namespace companion {

namespace {

constexpr int kWidth = 520;
constexpr int kHeight = 420;

// A wrapping label is the Mac's multi-line one, whose text the user may select; the single-line
// kind is a plain caption.
enum class Kind { SingleLine, Wrapping };

QLabel* makeLabel(const std::string& text, const QFont& font, Tone tone, Kind kind) {
    auto* label = new QLabel;
    // Summaries come from the network's devices: never let them be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(QString::fromStdString(text));
    label->setFont(font);
    setTone(*label, tone);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // A long line is cut at the window's edge rather than widening the page.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    const bool wrapping = kind == Kind::Wrapping;
    label->setWordWrap(wrapping);
    label->setTextInteractionFlags(wrapping ? Qt::TextSelectableByMouse : Qt::NoTextInteraction);
    return label;
}

QWidget* makeEventBlock(const DigestWindowContent::Block& block) {
    auto* widget = new QWidget;
    auto* stack = new QVBoxLayout(widget);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(3);
    stack->addWidget(
        makeLabel(block.summary, systemFont(13, QFont::Medium), Tone::Primary, Kind::Wrapping));
    stack->addWidget(makeLabel(block.meta, monospacedFont(11, QFont::Normal), Tone::Secondary,
                               Kind::SingleLine));
    return widget;
}

}  // namespace

CompanionDigestWindow::CompanionDigestWindow(const DigestWindowContent& content)
    : QtWindow(QString::fromStdString(content.windowTitle)) {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint);

    auto* page = new QWidget;
    auto* stack = new QVBoxLayout(page);
    stack->setContentsMargins(28, 24, 28, 24);
    stack->setSpacing(14);
    QLabel* title =
        makeLabel(content.title, systemFont(22, QFont::DemiBold), Tone::Primary, Kind::SingleLine);
    // A caption still, but one that breaks between words rather than running out of the window.
    title->setWordWrap(true);
    stack->addWidget(title);
    stack->addWidget(
        makeLabel(content.detail, systemFont(13, QFont::Normal), Tone::Secondary, Kind::Wrapping));
    stack->addWidget(makeSeparatorLine());
    for (const auto& block : content.blocks) {
        stack->addWidget(makeEventBlock(block));
    }
    if (content.emptyText) {
        stack->addWidget(makeLabel(*content.emptyText, systemFont(13, QFont::Normal),
                                   Tone::Secondary, Kind::Wrapping));
    }
    stack->addWidget(
        makeLabel(content.footer, systemFont(11, QFont::Normal), Tone::Tertiary, Kind::SingleLine));
    // Short pages sit at the top, as the Mac's stack leaves the spare room below.
    stack->addStretch(1);

    // Eight events already need more than 420 points; the window keeps its size and the page
    // scrolls, so it fits any screen.
    auto* scroller = new QScrollArea;
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroller->setWidget(page);
    scroller->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroller);

    setFixedSize(kWidth, kHeight);
    centerOnScreen();
}

}  // namespace companion
