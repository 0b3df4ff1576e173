#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <cstdlib>
#include <ctime>

#include "digest/CompanionDigest.h"
#include "platform/qt/DigestWindow.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtUi.h"
#include "support/FakeUi.h"
#include "support/TestEnvironment.h"

namespace companion::testing {
namespace {

// A fixed time zone and time style for the whole program, set before Qt first reads them: Qt
// keeps the system locale it finds first.
class FixedLocale : public ::testing::Environment {
  public:
    void SetUp() override {
        ::unsetenv("LC_ALL");
        ::setenv("LC_TIME", "en_GB.UTF-8", 1);
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        if (!std::getenv("XDG_RUNTIME_DIR")) {
            ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
            std::filesystem::permissions(runtime_.path(), std::filesystem::perms::owner_all);
        }
    }

  private:
    TemporaryFolder runtime_;
};

const auto* const kFixedLocale = ::testing::AddGlobalTestEnvironment(new FixedLocale);

TEST(QtUiShortTimeOfDay, UsesTheLocalesShortStyleInTheLocalZone) {
    qtApplication();
    QtUi ui([](Command) {});
    using namespace std::chrono;
    const auto instant = sys_days(year(2025) / 3 / 1) + 14h + 5min + 9s + 250ms;
    EXPECT_EQ(ui.shortTimeOfDay(instant), "14:05");
    ::setenv("TZ", "IST-5:30", 1);
    ::tzset();
    EXPECT_EQ(ui.shortTimeOfDay(instant), "19:35");
    ::setenv("TZ", "UTC", 1);
    ::tzset();
}

struct Element {
    std::string text;
    QLabel* label = nullptr;  // none for the separator
};

// The page's elements top to bottom, event blocks opened up in place.
void collect(QLayout* layout, std::vector<Element>& elements) {
    for (int i = 0; i < layout->count(); ++i) {
        QWidget* widget = layout->itemAt(i)->widget();
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            elements.push_back({label->text().toStdString(), label});
        } else if (auto* frame = qobject_cast<QFrame*>(widget);
                   frame && frame->frameShape() == QFrame::HLine) {
            elements.push_back({"---"});
        } else if (widget && widget->layout()) {
            collect(widget->layout(), elements);
        }
    }
}

QLayout* pageLayout(const QWidget& window) {
    return window.findChild<QScrollArea*>()->widget()->layout();
}

std::vector<Element> elementsOf(const QWidget& window) {
    std::vector<Element> elements;
    collect(pageLayout(window), elements);
    return elements;
}

std::vector<std::string> texts(const std::vector<Element>& elements) {
    std::vector<std::string> texts;
    for (const auto& element : elements) {
        texts.push_back(element.text);
    }
    return texts;
}

struct Look {
    int pixelSize;
    QFont::Weight weight;
    bool monospaced;
    double alpha;
    bool wraps;
    bool selectable;
};

void expectLook(const QLabel* label, const Look& look) {
    SCOPED_TRACE(label->text().toStdString());
    EXPECT_EQ(label->font().pixelSize(), look.pixelSize);
    EXPECT_EQ(label->font().weight(), look.weight);
    EXPECT_EQ(QFontInfo(label->font()).fixedPitch(), look.monospaced);
    EXPECT_NEAR(label->palette().color(QPalette::WindowText).alphaF(), look.alpha, 0.01);
    EXPECT_EQ(label->wordWrap(), look.wraps);
    EXPECT_EQ(label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse), look.selectable);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

const Look kTitle{22, QFont::DemiBold, false, 1.0, true, false};
const Look kDetail{13, QFont::Normal, false, 0.55, true, true};
const Look kSummary{13, QFont::Medium, false, 1.0, true, true};
const Look kMeta{11, QFont::Normal, true, 0.55, false, false};
const Look kFooter{11, QFont::Normal, false, 0.3, false, false};
const char* const kFooterText = "Close and reopen this window to refresh.";

TEST(CompanionDigestWindow, ShowsEveryEventBetweenSeparatorAndFooter) {
    qtApplication();
    FakeUi ui;
    std::vector<CompanionDigestSnapshot::Row> rows;
    for (int i = 8; i >= 1; --i) {
        rows.push_back({"2025-03-01T14:0" + std::to_string(i) + ":00Z", "lan.joined", "notice",
                        "Device " + std::to_string(i) +
                            " joined the network and answered the desktop probe <b>twice</b>"});
    }
    rows.back().summary = std::string(300, 'w');
    CompanionDigestWindow window(digestWindowContent(companionDigestSnapshot(rows), ui));

    const auto elements = elementsOf(window);
    std::vector<std::string> expected = {"8 recent companion updates", rows[0].summary, "---"};
    for (const auto& row : rows) {
        expected.push_back(row.summary);
        expected.push_back("lan.joined \u00B7 notice \u00B7 " + row.createdAt.substr(11, 5));
    }
    expected.push_back(kFooterText);
    ASSERT_EQ(texts(elements), expected);

    expectLook(elements[0].label, kTitle);
    expectLook(elements[1].label, kDetail);
    for (std::size_t i = 3; i + 1 < elements.size(); i += 2) {
        expectLook(elements[i].label, kSummary);
        expectLook(elements[i + 1].label, kMeta);
        const auto* block = elements[i].label->parentWidget()->layout();
        EXPECT_EQ(block->spacing(), 3);
        EXPECT_EQ(block->contentsMargins(), QMargins());
    }
    expectLook(elements.back().label, kFooter);
    EXPECT_EQ(pageLayout(window)->spacing(), 14);
    EXPECT_EQ(pageLayout(window)->contentsMargins(), QMargins(28, 24, 28, 24));

    // Eight events are taller than the window: the page scrolls, and never grows wider than it,
    // even for a word too long for one line.
    window.makeKeyAndOrderFront();
    QApplication::processEvents();
    auto* scroller = window.findChild<QScrollArea*>();
    EXPECT_TRUE(scroller->verticalScrollBar()->isVisible());
    EXPECT_LE(scroller->widget()->width(), scroller->viewport()->width());
    EXPECT_EQ(window.size(), QSize(520, 420));
}

TEST(CompanionDigestWindow, WithoutEventsShowsTheEmptyText) {
    qtApplication();
    FakeUi ui;
    CompanionDigestWindow window(digestWindowContent(unreadableCompanionHistorySnapshot(), ui));

    const auto elements = elementsOf(window);
    const std::vector<std::string> expected = {
        "Could not read companion history",
        "The local event store exists, but the menu app could not summarize it. Open Logs for "
        "details.",
        "---",
        "No action needed. The companion will add entries here when LAN neighbors or desktop "
        "probes change.",
        kFooterText};
    ASSERT_EQ(texts(elements), expected);
    expectLook(elements[3].label, kDetail);
    expectLook(elements[4].label, kFooter);
}

TEST(CompanionDigestWindow, FixedCentredWindowThatOnlyHidesWhenClosed) {
    qtApplication();
    FakeUi ui;
    CompanionDigestWindow window(digestWindowContent(steadyCompanionDigestSnapshot(), ui));
    EXPECT_EQ(window.windowTitle(), "Companion Digest");
    EXPECT_EQ(window.minimumSize(), QSize(520, 420));
    EXPECT_EQ(window.maximumSize(), QSize(520, 420));
    const auto flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(window.findChildren<QAbstractButton*>().isEmpty());
    EXPECT_FALSE(window.isVisible());

    window.makeKeyAndOrderFront();
    QApplication::processEvents();
    EXPECT_TRUE(window.isVisible());
    const QPoint offCentre = window.frameGeometry().center() -
                             QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 4) << offCentre.x() << "," << offCentre.y();
    EXPECT_FALSE(window.testAttribute(Qt::WA_DeleteOnClose));
    window.close();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace companion::testing
