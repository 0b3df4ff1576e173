#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLayout>
#include <QMimeData>
#include <QPushButton>

#include "pairing/PairingLink.h"
#include "platform/qt/PairingWindow.h"
#include "platform/qt/QtApplication.h"
#include "support/QrDecoder.h"

namespace companion {
namespace {

using testing::decodeQrCodes;
using testing::GreyImage;
using testing::qtApplication;

GreyImage grey(const QImage& image) {
    const QImage converted = image.convertToFormat(QImage::Format_Grayscale8);
    GreyImage result{converted.width(), converted.height(), {}};
    for (int y = 0; y < converted.height(); ++y) {
        const auto* line = converted.constScanLine(y);
        result.pixels.insert(result.pixels.end(), line, line + converted.width());
    }
    return result;
}

// The widgets of the window's column, top to bottom.
std::vector<QWidget*> column(const PairingWindow& window) {
    std::vector<QWidget*> widgets;
    for (int i = 0; i < window.layout()->count(); ++i) {
        if (QWidget* widget = window.layout()->itemAt(i)->widget()) {
            widgets.push_back(widget);
        }
    }
    return widgets;
}

QString text(QWidget* widget) {
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        return label->text();
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        return button->text();
    }
    return "[" + QString::number(widget->width()) + "x" + QString::number(widget->height()) + "]";
}

class PairingWindowTest : public ::testing::Test {
  protected:
    QApplication& app = qtApplication();
    const std::string link =
        pairingLink("studio.local", "50051", "042917", "sha256:" + std::string(20, 'f'));
    PairingWindow window{pairingWindowContent("042917", "studio.local", link)};
};

TEST_F(PairingWindowTest, ShowsTheContentInOrder) {
    const auto widgets = column(window);
    std::vector<QString> texts;
    for (QWidget* widget : widgets) {
        texts.push_back(text(widget));
    }
    EXPECT_EQ(texts, (std::vector<QString>{
                         "Pair Orvane Pelix", "Scan with Orvane Pelix on your iPhone.", "[300x300]",
                         "042917",
                         "Ready on studio.local:50051. The iPhone verifies this companion "
                         "automatically.",
                         "Copy Pairing Link"}));
    EXPECT_EQ(window.windowTitle(), "Orvane Pelix Pairing");
    ASSERT_EQ(widgets.size(), 6u);

    struct Font {
        qreal points;
        QFont::Weight weight;
    };
    const std::vector<Font> fonts = {
        {24, QFont::DemiBold}, {13, QFont::Normal}, {}, {36, QFont::DemiBold}, {12, QFont::Normal}};
    for (std::size_t i = 0; i < fonts.size(); ++i) {
        if (fonts[i].points == 0) {
            continue;
        }
        EXPECT_EQ(widgets[i]->font().pointSizeF(), fonts[i].points) << i;
        EXPECT_EQ(widgets[i]->font().weight(), fonts[i].weight) << i;
    }
    EXPECT_TRUE(QFontInfo(widgets[3]->font()).fixedPitch());

    const QPalette palette = window.palette();
    const auto textColor = [](QWidget* widget) {
        return widget->palette().color(QPalette::WindowText);
    };
    EXPECT_EQ(textColor(widgets[0]), palette.color(QPalette::WindowText));
    EXPECT_EQ(textColor(widgets[1]), palette.color(QPalette::PlaceholderText));
    EXPECT_EQ(textColor(widgets[3]), palette.color(QPalette::Highlight));
    EXPECT_EQ(textColor(widgets[4]), palette.color(QPalette::PlaceholderText));
    EXPECT_TRUE(qobject_cast<QLabel*>(widgets[4])->wordWrap());
    EXPECT_EQ(qobject_cast<QLabel*>(widgets[4])->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
}

TEST_F(PairingWindowTest, IsAFixedTitledClosableWindowThatOnlyHidesWhenClosed) {
    EXPECT_EQ(window.width(), 460);
    EXPECT_GE(window.height(), 560);
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const auto margins = window.layout()->contentsMargins();
    EXPECT_EQ(margins, QMargins(32, 28, 32, 28));
    EXPECT_EQ(window.layout()->spacing(), 16);
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    window.makeKeyAndOrderFront();
    EXPECT_TRUE(window.isVisible());
    // Laid out, the column must fit: nothing may be squeezed below its own minimum.
    for (QWidget* widget : column(window)) {
        EXPECT_GE(widget->height(), widget->minimumSizeHint().height())
            << text(widget).toStdString();
        EXPECT_GE(widget->y(), 28);
        EXPECT_LE(widget->geometry().bottom(), window.height() - 28);
    }
    window.close();
    EXPECT_FALSE(window.isVisible());
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(window.isVisible());
    window.close();
}

TEST_F(PairingWindowTest, DrawsTheLinkAsAScannableSymbolShownAt264) {
    auto* view = window.findChild<QWidget*>("qrImage");
    ASSERT_TRUE(view);
    EXPECT_EQ(view->size(), QSize(264, 264));
    EXPECT_EQ(view->parentWidget()->size(), QSize(300, 300));

    const QImage image = PairingWindow::qrImage(pairingWindowContent("", "", link).qr);
    // A hundred characters take version 6, 41 modules, plus four on each side; 12 pixels each.
    EXPECT_EQ(image.size(), QSize((41 + 8) * 12, (41 + 8) * 12));
    EXPECT_EQ(decodeQrCodes(grey(image)), std::vector<std::string>{link});

    // What the window itself paints scans too.
    window.makeKeyAndOrderFront();
    const QImage shown = view->grab().toImage();
    EXPECT_EQ(decodeQrCodes(grey(shown)), std::vector<std::string>{link});
    window.close();
}

TEST_F(PairingWindowTest, CopiesTheLinkAsPlainTextReplacingTheClipboard) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    auto* extra = new QMimeData;
    extra->setText("earlier");
    extra->setHtml("<b>earlier</b>");
    clipboard->setMimeData(extra);

    auto* button = qobject_cast<QPushButton*>(column(window).back());
    ASSERT_TRUE(button);
    button->click();
    button->click();
    EXPECT_EQ(clipboard->text().toStdString(), link);
    EXPECT_EQ(clipboard->mimeData()->formats(), QStringList{"text/plain"});
}

TEST(PairingWindowContents, ShowsTextsAsTheyAreAndAnEmptyFrameWithoutASymbol) {
    qtApplication();
    PairingWindowContent content = pairingWindowContent("<b>1</b>", "a&amp;b", "l");
    content.qr.reset();
    PairingWindow window(content);
    const auto widgets = column(window);
    ASSERT_EQ(widgets.size(), 6u);
    // Markup read as markup would shrink to the bare "1".
    QLabel asMarkup("<b>1</b>");
    asMarkup.setFont(widgets[3]->font());
    EXPECT_GT(widgets[3]->sizeHint().width(), asMarkup.sizeHint().width());
    EXPECT_TRUE(PairingWindow::qrImage(std::nullopt).isNull());
    EXPECT_TRUE(
        decodeQrCodes(grey(window.findChild<QWidget*>("qrImage")->grab().toImage())).empty());
}

}  // namespace
}  // namespace companion
