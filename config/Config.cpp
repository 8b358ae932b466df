#include "config/Config.h"

#include "driver/Globals.h"

namespace vemox {

bool TfmConfig::LoadConfig(const KibShortString& name, const KibShortString& value) {
    return ApplySettingsPair(name, value);
}

} // namespace vemox
