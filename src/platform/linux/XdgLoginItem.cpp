#include "platform/linux/XdgLoginItem.h"

// Placeholder until the housekeeping subsystem lands.
namespace companion {

LoginItemStatus XdgLoginItem::status() const {
    return LoginItemStatus::NotRegistered;
}
std::optional<std::string> XdgLoginItem::registerItem() {
    return "Not available yet.";
}
std::optional<std::string> XdgLoginItem::unregisterItem() {
    return std::nullopt;
}

}  // namespace companion
