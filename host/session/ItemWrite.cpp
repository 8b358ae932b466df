#include "host/session/ItemWrite.h"

#include "contract/Constants.h"
#include "host/session/WriteLimits.h"
#include "platform/Text.h"

namespace vemox::host {
namespace {

// Each step may take the whole watchdog time of its request, and a little more.
constexpr std::int64_t kStepGraceMs = 1000;

// Why the controller cannot take `value`; nothing when it can. A weight-point level is judged
// by the controller's decimal places, learnt from a net weight read.
std::optional<WriteOutcome> RefuseOutOfRange(DriverSession& session, SessionItem& item,
                                             const platform::Variant& value,
                                             const std::string& text, std::int64_t deadlineMs,
                                             const RunHooks& hooks) {
    const Operation operation = item.config.operation->operation;
    std::optional<std::uint8_t> status;
    if (operation == Operation::WeightPoints) {
        status = session.ReadWeightStatus(*item.node, deadlineMs, hooks);
    }
    // Without the decimal places, the widest range still refuses what no controller takes.
    const int decimals = status ? DecimalsOf(*status) : 0;
    if (const auto why = RefusedWrite(operation, value.get(), decimals)) {
        return WriteOutcome{WriteEnd::Refused, item.config.FullName() + " <- " + text + ": " +
                                                   *why + "; nothing written"};
    }
    if (operation == Operation::WeightPoints && !status) {
        return WriteOutcome{WriteEnd::NotWritten,
                            item.config.FullName() + ": " + item.config.node +
                                " did not report its decimal places (net weight read failed); "
                                "nothing written"};
    }
    return std::nullopt;
}

} // namespace

WriteOutcome WriteItem(DriverSession& session, SessionItem& item, const platform::Variant& value,
                       const std::string& valueText, const HostClock& clock,
                       const RunHooks& hooks) {
    if (item.config.operation->accessRights != kAccessReadWrite) {
        return {WriteEnd::Refused, item.config.FullName() + " (" +
                                       platform::Utf16ToUtf8(item.config.operation->caption) +
                                       ") cannot be written"};
    }
    const auto idle = [&] { return !item.host.Busy(); };
    const std::int64_t wait = session.WatchdogMs() + kStepGraceMs;
    if (auto refused =
            RefuseOutOfRange(session, item, value, valueText, clock.NowMs() + wait, hooks)) {
        return *refused;
    }
    // Outputs and weight points are written on top of what the controller last reported
    // (the other outputs, the other level): read first so that the write changes only
    // what was asked.
    session.Read({&item});
    session.RunUntil(idle, clock.NowMs() + wait, false, hooks);
    if (!session.Write(item, value)) {
        return {WriteEnd::NotWritten, item.config.FullName() + " did not become idle"};
    }
    session.RunUntil(idle, clock.NowMs() + wait, false, hooks);
    WriteOutcome outcome{WriteEnd::Written, ""};
    outcome.finished = !item.host.Busy();
    outcome.result = item.host.LastResult();
    outcome.quality = item.host.WriteState().wQuality;
    return outcome;
}

} // namespace vemox::host
