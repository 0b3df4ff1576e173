#pragma once

#include "platform/LoginItem.h"

namespace companion {

// The XDG autostart entry ~/.config/autostart/orvane-pelix-companion.desktop.
class XdgLoginItem : public LoginItem {
  public:
    LoginItemStatus status() const override;
    std::optional<std::string> registerItem() override;
    std::optional<std::string> unregisterItem() override;
};

}  // namespace companion
