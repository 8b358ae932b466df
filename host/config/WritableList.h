// The `writable = [...]` list that [mqtt] and [modbus] share: the items a gateway lets its
// clients write; every other item is refused whatever the client sends.
#pragma once

#include "host/config/ConfigReader.h"

#include <string>
#include <vector>

namespace vemox::host {

// Each name must be a defined item that can be written; repeats are kept once. Nothing when
// the section has no list.
std::vector<std::string> ReadWritableList(const ConfigReader& reader, const toml::table& table,
                                          const std::vector<ItemConfig>& items);

} // namespace vemox::host
