#include "support/FakeUi.h"

#include <gtest/gtest.h>
#include <ctime>

namespace companion::testing {

std::vector<std::string> FakeStatusItem::titles() const {
    std::vector<std::string> titles;
    for (const auto& item : menu().items) {
        titles.push_back(item.separator ? "-" : item.title);
    }
    return titles;
}

FakeUi::~FakeUi() {
    for (const auto& expected : expectedAlerts) {
        ADD_FAILURE() << "expected alert never shown: " << expected.messageText;
    }
}

void FakeUi::expectAlert(std::string messageText, int answer) {
    expectedAlerts.push_back({std::move(messageText), answer});
}

void FakeUi::duringNextAlert(std::function<void()> action) {
    nextAlertAction = std::move(action);
}

std::shared_ptr<StatusItem> FakeUi::createStatusItem() {
    statusItem = std::make_shared<FakeStatusItem>();
    return statusItem;
}

int FakeUi::runModal(const Alert& alert) {
    alerts.push_back(alert);
    if (auto action = std::exchange(nextAlertAction, nullptr)) {
        action();
    }
    if (expectedAlerts.empty()) {
        ADD_FAILURE() << "unexpected alert: " << alert.messageText << " / "
                      << alert.informativeText;
        return kAlertFirstButtonReturn;
    }
    Expected expected = expectedAlerts.front();
    expectedAlerts.pop_front();
    EXPECT_EQ(alert.messageText, expected.messageText) << alert.informativeText;
    return expected.answer;
}

std::shared_ptr<Window> FakeUi::createPairingWindow(const PairingWindowContent& content) {
    pairingWindows.push_back(std::make_shared<FakePairingWindow>(content));
    return pairingWindows.back();
}

std::shared_ptr<Window> FakeUi::createDigestWindow(const DigestWindowContent& content) {
    digestWindows.push_back(std::make_shared<FakeDigestWindow>(content));
    return digestWindows.back();
}

std::string FakeUi::shortTimeOfDay(std::chrono::system_clock::time_point instant) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(instant);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[8];
    std::strftime(text, sizeof text, "%H:%M", &utc);
    return text;
}

}  // namespace companion::testing
