// What the operator sees of the items: values, qualities in words, time stamps and
// exchange counts, as a table, as plain lines or as JSON, each drawn from a ReadRecord.
#pragma once

#include "host/output/ReadRecord.h"
#include "host/session/DriverSession.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <string>
#include <vector>

namespace vemox::host {

std::string QualityWords(std::uint16_t quality);
std::string OutcomeText(HRESULT result);

bool IsGood(const SessionItem& item);

// One row of the item table, column by column: item, operation, value ("-" unless good),
// quality, time stamp, finished/failed reads, replies/no replies/repeats.
std::vector<std::string> TableCells(const ReadRecord& record);
// "2026-12-09T15:44:05.958Z Hopper.net = 141.5 [good] ok; replies 7, none 0, repeats 0;
// reply in 13 ms"; the value is "-" unless the read was good.
std::string PlainLine(const ReadRecord& record);
// What a gateway publishes of a read: value, quality, quality_text, timestamp, reply_ms.
nlohmann::json PayloadJson(const ReadRecord& record);
// The payload with the item's name, node and operation, the outcome and the counts.
nlohmann::json ItemJson(const ReadRecord& record);
// `read --json`: every item's latest read, and the nodes that never answered.
nlohmann::json ItemsJson(const std::deque<SessionItem>& items);

// Nodes none of whose items got any reply: "Scale2 (COM1, address 7)".
std::vector<std::string> UnreachableNodes(const std::deque<SessionItem>& items);

} // namespace vemox::host
