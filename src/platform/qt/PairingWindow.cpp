#include "platform/qt/PairingWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/qt/Typography.h"

namespace companion {

namespace {

constexpr int kModulePixels = 12;
// The standard's quiet zone, so the symbol scans whatever colour the frame around it has.
constexpr int kQuietZoneModules = 4;
constexpr int kFrameSide = 300;
constexpr int kFrameRadius = 18;
constexpr int kImageSide = 264;

void setTextColor(QWidget& widget, QPalette::ColorRole role) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::WindowText, palette.color(role));
    widget.setPalette(palette);
}

QLabel* label(const std::string& text, const QFont& font) {
    auto* label = new QLabel(QString::fromStdString(text));
    // Codes and host names come from files: never let them be read as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

// The rounded card the symbol sits on.
class QrFrame : public QWidget {
  public:
    QrFrame() { setFixedSize(kFrameSide, kFrameSide); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Half a pixel in, so the one-pixel border falls on whole pixels.
        const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(palette().color(QPalette::Mid), 1));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRoundedRect(outline, kFrameRadius, kFrameRadius);
    }
};

// Shows its image scaled proportionally into a fixed square.
class QrImageView : public QWidget {
  public:
    explicit QrImageView(QImage image) : image_(std::move(image)) {
        setFixedSize(kImageSide, kImageSide);
    }
    const QImage& image() const { return image_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        if (image_.isNull()) {
            return;
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        QSize shown = image_.size().scaled(size(), Qt::KeepAspectRatio);
        QRect target(QPoint(), shown);
        target.moveCenter(rect().center());
        painter.drawImage(target, image_);
    }

  private:
    QImage image_;
};

}  // namespace

QImage PairingWindow::qrImage(const std::optional<QrSymbol>& symbol) {
    if (!symbol || symbol->size <= 0) {
        return {};
    }
    const int modules = symbol->size + 2 * kQuietZoneModules;
    QImage image(modules * kModulePixels, modules * kModulePixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int y = 0; y < symbol->size; ++y) {
        for (int x = 0; x < symbol->size; ++x) {
            if (symbol->dark(x, y)) {
                painter.fillRect((x + kQuietZoneModules) * kModulePixels,
                                 (y + kQuietZoneModules) * kModulePixels, kModulePixels,
                                 kModulePixels, Qt::black);
            }
        }
    }
    return image;
}

PairingWindow::PairingWindow(const PairingWindowContent& content)
    : QtWindow(QString::fromStdString(content.windowTitle)), pairingURL(content.pairingURL) {
    // Titled and closable only: no minimising, and the fixed size below rules out resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);

    auto* title = label(content.title, systemFont(24, QFont::DemiBold));
    auto* instruction = label(content.instruction, systemFont(13, QFont::Normal));
    setTone(*instruction, Tone::Secondary);

    auto* frame = new QrFrame;
    auto* image = new QrImageView(qrImage(content.qr));
    image->setObjectName("qrImage");
    image->setAccessibleName("Pairing QR code");
    auto* frameLayout = new QGridLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    frameLayout->addWidget(image, 0, 0, Qt::AlignCenter);

    auto* code = label(content.code, monospacedFont(36, QFont::DemiBold));
    setTextColor(*code, QPalette::Highlight);

    auto* note = label(content.note, systemFont(12, QFont::Normal));
    note->setWordWrap(true);
    note->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    setTone(*note, Tone::Secondary);

    auto* copy = new QPushButton(QString::fromStdString(content.copyButtonTitle));
    copy->setAutoDefault(true);
    QObject::connect(copy, &QPushButton::clicked, [this] { copyPairingLink(); });

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(32, 28, 32, 28);
    stack->setSpacing(16);
    stack->addStretch();
    stack->addWidget(title, 0, Qt::AlignHCenter);
    stack->addWidget(instruction, 0, Qt::AlignHCenter);
    stack->addWidget(frame, 0, Qt::AlignHCenter);
    stack->addWidget(code, 0, Qt::AlignHCenter);
    // The full width, so the note wraps at the window's insets rather than at its own length.
    stack->addWidget(note);
    stack->addWidget(copy, 0, Qt::AlignHCenter);
    stack->addStretch();

    // 460 by 560 to start; taller only when the content needs it, and fixed from then on.
    constexpr int kWidth = 460;
    constexpr int kHeight = 560;
    const int needed =
        stack->hasHeightForWidth() ? stack->heightForWidth(kWidth) : stack->minimumSize().height();
    setFixedSize(kWidth, std::max(kHeight, needed));
    centerOnScreen();
}

void PairingWindow::copyPairingLink() {
    QGuiApplication::clipboard()->setText(QString::fromStdString(pairingURL));
}

}  // namespace companion
