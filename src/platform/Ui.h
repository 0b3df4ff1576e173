#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "digest/DigestWindowContent.h"
#include "pairing/PairingWindowContent.h"
#include "platform/MenuModel.h"

namespace companion {

// The answer of the first button of an alert; the second answers one more, and so on.
inline constexpr int kAlertFirstButtonReturn = 1000;

struct Alert {
    std::string messageText;
    std::string informativeText;
    // In order; the first is the default. Empty means the platform's single default button.
    std::vector<std::string> buttons;
};

// The companion's item in the menu bar (the tray on Linux).
class StatusItem {
  public:
    virtual ~StatusItem() = default;
    // Whether the item can show an image and a title; without one only the menu is attached.
    virtual bool hasButton() const = 0;
    virtual void setImage(const std::string& symbolName,
                          const std::string& accessibilityDescription) = 0;
    virtual void setTitle(const std::string& title) = 0;
    // Replaces the whole menu.
    virtual void setMenu(const MenuModel& menu) = 0;
};

// A window the application keeps for the rest of the run; closing it only hides it.
class Window {
  public:
    virtual ~Window() = default;
    virtual bool isVisible() const = 0;
    virtual void makeKeyAndOrderFront() = 0;
};

// The display: everything the user sees or touches goes through here. Main thread only.
class Ui {
  public:
    virtual ~Ui() = default;

    // Makes the application an ordinary one (Dock icon, windows in the window list).
    virtual void setActivationPolicyRegular() = 0;
    virtual std::shared_ptr<StatusItem> createStatusItem() = 0;

    // Shows a modal alert and answers kAlertFirstButtonReturn plus the index of the button chosen.
    // The application is not brought to the front first.
    virtual int runModal(const Alert& alert) = 0;

    // Built centred and not yet shown.
    virtual std::shared_ptr<Window> createPairingWindow(const PairingWindowContent& content) = 0;
    virtual std::shared_ptr<Window> createDigestWindow(const DigestWindowContent& content) = 0;

    virtual void activateIgnoringOtherApps() = 0;
    // Shows a folder in the desktop's file manager; the outcome is not reported.
    virtual void openFolder(const std::string& path) = 0;
    // Asks the application to end its event loop.
    virtual void terminate() = 0;

    // The time of day in the user's locale's short style and time zone, without a date.
    virtual std::string shortTimeOfDay(std::chrono::system_clock::time_point instant) const = 0;
};

}  // namespace companion
