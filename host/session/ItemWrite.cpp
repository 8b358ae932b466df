#include "host/session/ItemWrite.h"

namespace vemox::host {
namespace {

// Each step may take the whole watchdog time of its request, and a little more.
constexpr std::int64_t kStepGraceMs = 1000;

WriteOutcome Refused(const SessionItem& item, const std::string& text, const std::string& why) {
    return {WriteEnd::Refused,
            item.config.FullName() + " <- " + text + ": " + why + "; nothing written"};
}

// The gate's answer for `asked` on this controller. A weight-point level's range follows the
// controller's decimal places, learnt from a net weight read, and only for a level that
// passed everything else: a value that no controller takes puts nothing on the line.
WriteOutcome Pass(DriverSession& session, SessionItem& item, const AskedValue& asked,
                  const std::string& text, std::int64_t deadlineMs, const RunHooks& hooks,
                  platform::Variant& value) {
    GateAnswer answer = GateWrite(item.config, asked);
    if (answer.value && item.config.operation->operation == Operation::WeightPoints) {
        const auto status = session.ReadWeightStatus(*item.node, deadlineMs, hooks);
        if (!status) {
            return {WriteEnd::NotWritten,
                    item.config.FullName() + ": " + item.config.node +
                        " did not report its decimal places (net weight read failed); "
                        "nothing written"};
        }
        answer = GateWrite(item.config, asked, DecimalsOf(*status));
    }
    if (!answer.value) {
        return Refused(item, text, answer.refusal);
    }
    value = std::move(*answer.value);
    return {WriteEnd::Written, ""};
}

} // namespace

WriteOutcome WriteItem(DriverSession& session, SessionItem& item, const AskedValue& asked,
                       const std::string& askedText, const HostClock& clock,
                       const RunHooks& hooks) {
    const auto idle = [&] { return !item.host.Busy(); };
    const std::int64_t wait = session.WatchdogMs() + kStepGraceMs;
    platform::Variant value;
    const WriteOutcome passed =
        Pass(session, item, asked, askedText, clock.NowMs() + wait, hooks, value);
    if (passed.end != WriteEnd::Written) {
        return passed;
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
    outcome.value = std::move(value);
    return outcome;
}

} // namespace vemox::host
