#pragma once

#include "digest/DigestWindowContent.h"
#include "platform/qt/QtWindow.h"

namespace companion {

// A static page of the latest events: built once from its content and never reloaded, so the
// user closes and reopens it to refresh.
class CompanionDigestWindow : public QtWindow {
  public:
    explicit CompanionDigestWindow(const DigestWindowContent& content);
};

}  // namespace companion
