// Where vemox-host publishes and listens on the broker, under the configured prefix:
//   <prefix>/$status                   "online", or "offline" (the last will); retained
//   <prefix>/<node>/<item>             the item's latest read, JSON
//   <prefix>/<node>/$health            the controller's link figures, JSON
//   <prefix>/<node>/<item>/set         a value to write, for items listed as writable
//   <prefix>/<node>/<item>/set/result  the outcome of that write, JSON
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vemox::host {

constexpr char kStatusOnline[] = "online";
constexpr char kStatusOffline[] = "offline";

std::string StatusTopic(const std::string& prefix);
std::string ItemTopic(const std::string& prefix, const std::string& node, const std::string& item);
std::string HealthTopic(const std::string& prefix, const std::string& node);
// Matches the set topic of every item.
std::string SetFilter(const std::string& prefix);
std::string ResultTopic(const std::string& setTopic);

// The item ("NODE.ITEM") a set topic addresses; nothing for any other topic.
std::optional<std::string> ItemOfSetTopic(const std::string& prefix, std::string_view topic);

} // namespace vemox::host
