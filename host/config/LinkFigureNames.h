// The names a controller's link figures go by in the configuration file and in JSON, beside
// the captions the item page shows.
#pragma once

#include "contract/Operations.h"

#include <optional>
#include <string_view>

namespace vemox::host {

// "no_answer".
std::string_view LinkFigureKey(LinkFigure figure) noexcept;
// A figure by that name or by its caption ("Нет ответа").
std::optional<LinkFigure> LinkFigureByName(std::string_view name);

} // namespace vemox::host
