#include <gtest/gtest.h>

#include <QClipboard>
#include <QLabel>
#include <QPushButton>

#include "digest/CompanionDigest.h"
#include "pairing/PairingLink.h"
#include "platform/qt/DigestWindow.h"
#include "platform/qt/PairingWindow.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/Typography.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

// The window's texts top to bottom as the user reads them, a separator line as "---".
std::vector<std::string> texts(const QWidget& window) {
    std::vector<std::string> texts;
    for (const QFrame* frame : window.findChildren<QFrame*>()) {
        if (const auto* label = qobject_cast<const QLabel*>(frame)) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
            texts.push_back(label->text().toStdString());
        } else if (frame->frameShape() == QFrame::HLine) {
            texts.push_back("---");
        }
    }
    return texts;
}

TEST(PairingWindow, DrawsTheContentAndCopiesTheLink) {
    qtApplication();
    // Host and code come from the daemon's file: markup in them must show as typed.
    const std::string link = pairingLink("<b>studio</b>", "50051", "<i>042917</i>", "sha256:ff");
    PairingWindow window(pairingWindowContent("<i>042917</i>", "<b>studio</b>", link));
    EXPECT_EQ(window.windowTitle(), "Orvane Pelix Pairing");
    // The Mac's points are device-independent pixels: the title 24, the code 36.
    const auto labels = window.findChildren<QLabel*>();
    EXPECT_EQ(labels[0]->font().pixelSize() * 100 + labels[2]->font().pixelSize(), 2436);
    EXPECT_EQ(labels[1]->palette().color(QPalette::WindowText),
              toneColor(window.palette(), Tone::Secondary));
    EXPECT_FALSE(labels[2]->textInteractionFlags() & Qt::TextSelectableByMouse) << "the code";
    // Minimised, it no longer counts as shown, so the command opens a window in sight.
    window.showMinimized();
    EXPECT_FALSE(static_cast<Window&>(window).isVisible());
    window.showNormal();
    EXPECT_TRUE(static_cast<Window&>(window).isVisible());
    EXPECT_EQ(texts(window),
              (std::vector<std::string>{"Pair Orvane Pelix",
                                        "Scan with Orvane Pelix on your iPhone.", "<i>042917</i>",
                                        "Ready on <b>studio</b>:50051. The iPhone verifies this "
                                        "companion automatically."}));

    // What the window draws scans back to the link; 264 pixels a row leave no padding.
    const QImage drawn = window.findChild<QWidget*>("qrImage")->grab().toImage().convertToFormat(
        QImage::Format_Grayscale8);
    ASSERT_EQ(drawn.bytesPerLine(), drawn.width()) << "rows must not be padded for zbar";
    EXPECT_EQ(decodeQrCodes(drawn.width(), drawn.height(), drawn.constBits()), std::vector{link});

    auto* copy = window.findChild<QPushButton*>();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->text(), "Copy Pairing Link");
    QGuiApplication::clipboard()->setText("earlier");
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), link);
}

TEST(CompanionDigestWindow, DrawsEveryTextInOrder) {
    qtApplication();
    FakeUi ui;  // shows times as "HH:MM" in UTC
    const std::string footer = "Close and reopen this window to refresh.";
    CompanionDigestWindow events(digestWindowContent(
        companionDigestSnapshot({{"2025-03-01T14:05:09Z", "lan.joined", "info", "<b>TV</b> joined"},
                                 {"2025-03-01 09:00:00", "", "", "Printer left"}}),
        ui));
    EXPECT_EQ(events.windowTitle(), "Companion Digest");
    EXPECT_EQ(texts(events), (std::vector<std::string>{
                                 "2 recent companion updates", "<b>TV</b> joined", "---",
                                 "<b>TV</b> joined", "lan.joined \u00B7 info \u00B7 14:05",
                                 "Printer left", " \u00B7  \u00B7 2025-03-01 09:00:00", footer}));
    CompanionDigestWindow empty(digestWindowContent(noCompanionHistorySnapshot(), ui));
    EXPECT_EQ(texts(empty), (std::vector<std::string>{
                                "No companion history yet",
                                "The daemon writes a baseline first, then records LAN changes "
                                "and probe results as they happen.",
                                "---",
                                "No action needed. The companion will add entries here when "
                                "LAN neighbors or desktop probes change.",
                                footer}));
}

}  // namespace
}  // namespace companion::testing
