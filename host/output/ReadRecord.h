// A finished read as every output shows it: the table row, the plain line, the JSON of
// `read`, a recording's row and a gateway's payload are all drawn from this one record, so
// they cannot disagree on the value, the quality, the time stamp or the counts.
#pragma once

#include "host/session/DriverSession.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace vemox::host {

// A value as the driver typed it: a Boolean, a whole number, a decimal number, or text (a
// date-time as its time-stamp text).
using ReadValue = std::variant<bool, std::int64_t, double, std::string>;

struct ReadRecord {
    std::string item; // NODE.NAME
    std::string node;
    std::string operation;  // the operation's caption
    bool completed = false; // the item has finished a read (or a write) at least once
    bool good = false;
    std::optional<ReadValue> value; // only when the read was good
    std::uint16_t quality = 0;
    std::string qualityText;    // "waiting" before the first read, "write-only" for dosing control
    std::string outcome;        // "ok", "no reply", ...; "no outcome" before the first read
    std::int64_t timeTicks = 0; // UTC, 100 ns since 1601; 0 before the first time stamp
    std::optional<std::int64_t> replyMs; // only when the read was good and brought a reply
    ExchangeCounts counts;
};

// The item's latest read; `replyMs` is the reply time this read brought, if any.
ReadRecord RecordOf(const SessionItem& item, std::optional<std::int64_t> replyMs);
// The same with the reply time of the item's last answered exchange.
ReadRecord RecordOf(const SessionItem& item);

// The value a variant holds; nothing for an empty one and for a date-time of 0 (none yet).
std::optional<ReadValue> ValueOf(const VARIANT& value);

// The one time-stamp text: ISO 8601, UTC, to the millisecond, "2026-12-09T15:44:05.958Z";
// "-" for none.
std::string TimeStampText(std::int64_t ticks);
// The same for JSON: null for none.
nlohmann::json TimeStampJson(std::int64_t ticks);
// A driver's date-time (the link's last good reply), which it keeps in UTC, as ticks.
std::int64_t DateTicks(double date);

// "-" for no value, true/false, the number as the driver's text.
std::string ValueText(const std::optional<ReadValue>& value);
// null for no value, a JSON Boolean, number or string.
nlohmann::json ValueJson(const std::optional<ReadValue>& value);

} // namespace vemox::host
