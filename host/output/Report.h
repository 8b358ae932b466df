// What the operator sees of the items: values, qualities in words, time stamps and
// exchange counts, as a table, as plain lines or as JSON.
#pragma once

#include "host/session/DriverSession.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <string>
#include <vector>

namespace vemox::host {

std::string QualityWords(std::uint16_t quality);
std::string OutcomeText(HRESULT result);
std::string ValueText(const VARIANT& value);
// UTC, to the millisecond; "-" before the first time stamp.
std::string TimeStampText(const FILETIME& time);
// The same in ISO 8601, as files and subscribers parse it: "2024-05-01T12:00:00.123Z".
std::string IsoTimeText(const FILETIME& time);

bool IsGood(const SessionItem& item);

// `trends`, when given, holds a sparkline per item for a last column.
std::string TableText(const std::deque<SessionItem>& items,
                      const std::vector<std::string>& trends = {});
std::string PlainLine(const SessionItem& item);
// A number where the value is one, true or false, a date-time as text, null before the first
// value.
nlohmann::json ValueJson(const VARIANT& value);
nlohmann::json ItemsJson(const std::deque<SessionItem>& items);

// Nodes none of whose items got any reply: "Scale2 (COM1, address 7)".
std::vector<std::string> UnreachableNodes(const std::deque<SessionItem>& items);

} // namespace vemox::host
