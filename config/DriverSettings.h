// The four driver settings that govern every port and controller alike, and how a settings
// pair that the host stored applies to them.
#pragma once

#include "contract/PluginInterface.h"

#include <cstdint>

namespace vemox {

struct TDriverSettings {
    std::int32_t WaitTimeout = 3000;   // ms to wait for a reply
    std::int32_t CountTry = 3;         // writes of one request before it fails
    std::int32_t TimeNextSend = 60000; // ms between writes to a silent controller
    bool CalcCRC = true;               // frames carry and are tested against a checksum
};

// Applies one settings pair. Unknown keys are ignored (true); a value that does not convert
// shows the operator a box and changes nothing (false).
bool ApplySettingsPair(TDriverSettings& settings, const KibShortString& name,
                       const KibShortString& value);

} // namespace vemox
