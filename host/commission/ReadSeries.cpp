#include "host/commission/ReadSeries.h"

#include "host/output/Report.h"

#include <algorithm>

namespace vemox::host {
namespace {

constexpr std::int64_t kGraceMs = 1000;
constexpr int kExitOk = 0;
constexpr int kExitNotGood = 1;

// Whether the driver scales the item's value by the weight's decimal places.
bool ScaledByWeight(const ItemConfig& item) {
    const Operation operation = item.operation->operation;
    return operation == Operation::WeightPoints ||
           (operation == Operation::Counter && (item.parameter == 1 || item.parameter == 3));
}

} // namespace

void AddSeriesOptions(CLI::App& command, SeriesOptions& options) {
    command.add_option("--count", options.count, "read this many times, then sum up")
        ->check(CLI::Range(1, 1000000))
        ->capture_default_str();
    command
        .add_option("--interval", options.intervalMs,
                    "ms from the start of one read to the start of the next; a read that takes "
                    "longer is followed at once, without catching up")
        ->check(CLI::Range(0, 3600000))
        ->capture_default_str();
}

void ReadSummary::Add(bool good, std::optional<std::int64_t> replyMs) {
    (good ? good_ : failed_) += 1;
    if (good && replyMs) {
        times_.Add(*replyMs);
    }
}

std::string ReadSummary::Text() const {
    std::string text = std::to_string(good_ + failed_) + " reads: " + std::to_string(good_) +
                       " good, " + std::to_string(failed_) + " failed";
    if (times_.Count() > 0) {
        text += "; reply time " + times_.Text(true);
    }
    return text;
}

nlohmann::json ReadSummary::Json() const {
    nlohmann::json summary = {{"reads", good_ + failed_}, {"good", good_}, {"failed", failed_}};
    if (times_.Count() > 0) {
        summary["reply_ms"] = {
            {"min", times_.Min()}, {"avg", times_.Mean()}, {"max", times_.Max()}};
    }
    return {{"summary", summary}};
}

int ReadSeries(DriverSession& session, SessionItem& item, const SeriesOptions& options,
               const HostClock& clock, const RunHooks& hooks, std::ostream& out) {
    const std::int64_t waitMs = session.WatchdogMs() + kGraceMs;
    if (ScaledByWeight(item.config)) {
        session.ReadWeightStatus(*item.node, clock.NowMs() + waitMs, hooks);
    }
    const auto idle = [&] { return !item.host.Busy(); };
    ReadSummary summary;
    std::int64_t startMs = clock.NowMs();
    for (std::int64_t n = 0; n < options.count; ++n) {
        if (session.RunUntil({}, startMs, false, hooks) == RunEnd::Interrupted) {
            break;
        }
        const std::uint32_t answered = item.host.Counts().answered;
        session.Read({&item});
        if (session.RunUntil(idle, clock.NowMs() + waitMs, false, hooks) != RunEnd::Done) {
            break;
        }
        // A read that outlasts the interval is followed at once, and the series goes on at
        // the interval from there: reads missed are not made up in a burst.
        startMs = std::max(startMs + options.intervalMs, clock.NowMs());
        const ReadRecord record =
            RecordOf(item, item.host.Counts().answered != answered ? std::optional(item.replyTimeMs)
                                                                   : std::nullopt);
        summary.Add(record.good, record.replyMs);
        if (options.json) {
            nlohmann::json document = ItemsJson(session.Items());
            document["items"][0] = ItemJson(record);
            out << document.dump(options.count == 1 ? 2 : -1) << std::endl;
        } else {
            out << PlainLine(record) << std::endl;
        }
    }
    if (options.count > 1) {
        out << (options.json ? summary.Json().dump() : summary.Text()) << std::endl;
    }
    return summary.Failed() == 0 && summary.Good() > 0 ? kExitOk : kExitNotGood;
}

} // namespace vemox::host
