// Each controller's link figures as the operator sees them.
#pragma once

#include "host/session/ControllerLinks.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vemox::host {

// One object per controller, keyed by LinkFigureKey.
nlohmann::json LinksJson(const std::vector<ControllerLink>& links);

} // namespace vemox::host
