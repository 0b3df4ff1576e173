#pragma once

#include "pairing/PairingWindowContent.h"
#include "platform/qt/QtWindow.h"

namespace companion {

class PairingWindow : public QtWindow {
  public:
    explicit PairingWindow(const PairingWindowContent& content);
};

}  // namespace companion
