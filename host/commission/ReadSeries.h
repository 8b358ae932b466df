// An ad-hoc read, once or `--count N` times `--interval` apart, each printed as it finishes and
// the series summed up at the end: good and failed reads, and the reply times of the good ones.
#pragma once

#include "host/commission/ReplyTimes.h"
#include "host/session/DriverSession.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace vemox::host {

struct SeriesOptions {
    std::int64_t count = 1;
    // From the start of one read to the start of the next, or to the end of a read that
    // takes longer.
    std::int64_t intervalMs = 1000;
    bool json = false;
};
void AddSeriesOptions(CLI::App& command, SeriesOptions& options);

class ReadSummary {
public:
    // A finished read; the reply time counts only for a good one.
    void Add(bool good, std::optional<std::int64_t> replyMs);
    int Good() const noexcept { return good_; }
    int Failed() const noexcept { return failed_; }
    // "20 reads: 19 good, 1 failed; reply time min 3 ms, avg 4.2 ms, max 9 ms".
    std::string Text() const;
    nlohmann::json Json() const;

private:
    int good_ = 0;
    int failed_ = 0;
    ReplyTimes times_;
};

// Reads `item` as the options say, printing to `out`; answers the exit status: 0 when every
// read was good. Counters 1 and 3 and weight-point levels are preceded by one net weight read,
// which brings the decimal places they are scaled by, as a configured node's weight item would.
int ReadSeries(DriverSession& session, SessionItem& item, const SeriesOptions& options,
               const HostClock& clock, const RunHooks& hooks, std::ostream& out);

} // namespace vemox::host
