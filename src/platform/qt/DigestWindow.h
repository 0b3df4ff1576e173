#pragma once

#include "digest/DigestWindowContent.h"
#include "platform/qt/QtWindow.h"

namespace companion {

class CompanionDigestWindow : public QtWindow {
  public:
    explicit CompanionDigestWindow(const DigestWindowContent& content);
};

}  // namespace companion
