#pragma once

#include <deque>
#include <string>
#include <variant>
#include <vector>

#include "platform/Ui.h"

namespace companion::testing {

class FakeStatusItem : public StatusItem {
  public:
    bool hasButton() const override { return true; }
    void setImage(const std::string& symbolName, const std::string& description) override {
        this->symbolName = symbolName;
        accessibilityDescription = description;
    }
    void setTitle(const std::string& title) override { this->title = title; }
    void setMenu(const MenuModel& menu) override { menus.push_back(menu); }

    const MenuModel& menu() const { return menus.back(); }
    // The titles of the latest menu, separators as "-".
    std::vector<std::string> titles() const;

    std::string symbolName;
    std::string accessibilityDescription;
    std::string title;
    std::vector<MenuModel> menus;
};

class FakeWindow : public Window {
  public:
    bool isVisible() const override { return visible; }
    void makeKeyAndOrderFront() override {
        visible = true;
        ++timesRaised;
    }
    // What the user's click on the close button does.
    void close() { visible = false; }

    bool visible = false;
    int timesRaised = 0;
};

class FakePairingWindow : public FakeWindow {
  public:
    explicit FakePairingWindow(PairingWindowContent content) : content(std::move(content)) {}
    PairingWindowContent content;
};

class FakeDigestWindow : public FakeWindow {
  public:
    explicit FakeDigestWindow(DigestWindowContent content) : content(std::move(content)) {}
    DigestWindowContent content;
};

// The display, recorded. Alerts are answered from a script: a test says which alerts it expects,
// in order, and with which answer; any other alert fails the test.
class FakeUi : public Ui {
  public:
    ~FakeUi() override;

    // Expects the next alert to carry this message text, and answers it (by default the first
    // button, 1000).
    void expectAlert(std::string messageText, int answer = kAlertFirstButtonReturn);
    // Runs during the next alert, before it is answered, as the user's other clicks would.
    void duringNextAlert(std::function<void()> action);
    bool allAlertsShown() const { return expectedAlerts.empty(); }

    void setActivationPolicyRegular() override { ++activationPolicySet; }
    std::shared_ptr<StatusItem> createStatusItem() override;
    int runModal(const Alert& alert) override;
    std::shared_ptr<Window> createPairingWindow(const PairingWindowContent& content) override;
    std::shared_ptr<Window> createDigestWindow(const DigestWindowContent& content) override;
    void activateIgnoringOtherApps() override { ++activations; }
    void openFolder(const std::string& path) override { openedFolders.push_back(path); }
    void terminate() override { ++terminations; }
    // A fixed 24-hour "HH:MM" in UTC, so tests read the same on every machine.
    std::string shortTimeOfDay(std::chrono::system_clock::time_point instant) const override;

    std::shared_ptr<FakeStatusItem> statusItem;
    std::vector<Alert> alerts;
    std::vector<std::shared_ptr<FakePairingWindow>> pairingWindows;
    std::vector<std::shared_ptr<FakeDigestWindow>> digestWindows;
    std::vector<std::string> openedFolders;
    int activationPolicySet = 0;
    int activations = 0;
    int terminations = 0;

  private:
    struct Expected {
        std::string messageText;
        int answer;
    };
    std::deque<Expected> expectedAlerts;
    std::function<void()> nextAlertAction;
};

}  // namespace companion::testing
