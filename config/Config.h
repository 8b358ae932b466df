// The driver settings page. It owns the application of the settings pairs that the host
// hands back, so that the page and the host always agree on what a pair means.
#pragma once

#include "driver/PluginInterface.h"

namespace vemox {

class TfmConfig {
public:
    // Applies one settings pair; see ApplySettingsPair.
    bool LoadConfig(const KibShortString& name, const KibShortString& value);
};

} // namespace vemox
