#pragma once

#include "LanView.h"

namespace tarvelind {

/// Reads the current view from local kernel state only (getifaddrs, /proc/net/route,
/// /proc/net/arp); it never sends a packet.
LanReading readLanView();

}  // namespace tarvelind
