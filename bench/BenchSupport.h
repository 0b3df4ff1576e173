#pragma once

#include <filesystem>
#include <memory>

#include "platform/Platform.h"

namespace companion::bench {

// A display that shows nothing: benchmarks measure the core, not the drawing.
class NullUi : public Ui {
public:
    class Item : public StatusItem {
    public:
        bool hasButton() const override { return true; }
        void setImage(const std::string&, const std::string&) override {}
        void setTitle(const std::string&) override {}
        void setMenu(const MenuModel& menu) override { last = menu; }
        MenuModel last;
    };
    class NullWindow : public Window {
    public:
        bool isVisible() const override { return visible; }
        void makeKeyAndOrderFront() override { visible = true; }
        bool visible = false;
    };

    void setActivationPolicyRegular() override {}
    std::shared_ptr<StatusItem> createStatusItem() override { return std::make_shared<Item>(); }
    int runModal(const Alert&) override { return kAlertFirstButtonReturn; }
    std::shared_ptr<Window> createPairingWindow(const PairingWindowContent&) override {
        return std::make_shared<NullWindow>();
    }
    std::shared_ptr<Window> createDigestWindow(const DigestWindowContent&) override {
        return std::make_shared<NullWindow>();
    }
    void activateIgnoringOtherApps() override {}
    void openFolder(const std::string&) override {}
    void terminate() override {}
    std::string shortTimeOfDay(std::chrono::system_clock::time_point) const override {
        return "12:00";
    }
};

// A temporary home with the real POSIX and Linux pieces and the display above.
struct BenchHome {
    BenchHome();
    ~BenchHome();
    std::filesystem::path folder;
    Platform platform;
};

}  // namespace companion::bench
