#include "host/gateway/modbus/ModbusGateway.h"

#include "host/output/Report.h"
#include "host/session/ItemWrite.h"
#include "host/session/WriteLimits.h"
#include "platform/VariantConvert.h"

namespace vemox::host {
namespace {

// The link figures come from the driver, not the line; this often is plenty.
constexpr std::int64_t kLinksPeriodMs = 500;

} // namespace

ModbusGateway::ModbusGateway(DriverSession& session, ControllerLinks& links, const HostClock& clock,
                             const RunHooks& writeHooks, LogSink notices)
    : session_(session), links_(links), clock_(clock), writeHooks_(writeHooks),
      notices_(std::move(notices)), server_(session.Config()) {
    Tell("serving Modbus TCP on " + session.Config().modbus->listen);
    linksReadMs_ = clock_.NowMs() - kLinksPeriodMs;
}

void ModbusGateway::Tell(const std::string& line) {
    if (notices_) {
        notices_("modbus: " + line);
    }
}

ModbusException ModbusGateway::Carry(const ModbusWrite& write) {
    std::deque<SessionItem>& items = session_.Items();
    // Every value is checked before the first is sent, so that a write of several items is
    // never applied in part.
    for (const ModbusItemWrite& one : write.items) {
        SessionItem& item = items[one.item];
        std::optional<int> decimals;
        if (item.config.operation->operation == Operation::WeightPoints) {
            const auto status = session_.ReadWeightStatus(
                *item.node, clock_.NowMs() + session_.WatchdogMs(), writeHooks_);
            if (!status) {
                Tell(item.config.FullName() + " <- " + one.text +
                     ": no decimal places known (net weight read failed); nothing written");
                return ModbusException::TargetNoResponse;
            }
            decimals = DecimalsOf(*status);
        }
        if (const GateAnswer answer = GateWrite(item.config, one.value, decimals); !answer.value) {
            Tell(item.config.FullName() + " <- " + one.text + ": " + answer.refusal +
                 "; nothing written");
            return ModbusException::IllegalValue;
        }
    }
    for (const ModbusItemWrite& one : write.items) {
        SessionItem& item = items[one.item];
        const WriteOutcome outcome =
            WriteItem(session_, item, one.value, one.text, clock_, writeHooks_);
        if (outcome.end == WriteEnd::Refused) {
            Tell(outcome.why);
            return ModbusException::IllegalValue;
        }
        if (outcome.end == WriteEnd::NotWritten) {
            Tell(outcome.why);
            return ModbusException::TargetNoResponse;
        }
        const std::string result = outcome.finished ? OutcomeText(outcome.result) : "no outcome";
        Tell(item.config.FullName() + " <- " + one.text + ": " + result);
        if (!outcome.Acknowledged()) {
            return ModbusException::TargetNoResponse;
        }
    }
    return ModbusException::None;
}

void ModbusGateway::AfterCycle() {
    for (const ModbusWrite& write : server_.TakeWrites()) {
        const bool stopping = writeHooks_.interrupted && writeHooks_.interrupted();
        server_.Finish(write.id, stopping ? ModbusException::TargetNoResponse : Carry(write));
    }
    std::vector<ModbusValue> values;
    for (const SessionItem& item : session_.Items()) {
        // The driver answers a write-only item with 0 without asking; so does the server.
        if (item.config.WriteOnly()) {
            values.push_back({true, 0});
            continue;
        }
        ModbusValue value;
        try {
            value.value =
                IsGood(item) ? platform::VariantToDouble(item.host.Shown().vDataValue) : 0;
            value.good = IsGood(item);
        } catch (const platform::ConversionError&) {
            value.good = false; // a value no client could read as a number
        }
        values.push_back(value);
    }
    std::vector<ModbusDiagnostics> units;
    if (clock_.NowMs() - linksReadMs_ >= kLinksPeriodMs) {
        linksReadMs_ = clock_.NowMs();
        for (const ControllerLink& link : links_.Read()) {
            ModbusDiagnostics unit;
            unit.good = link.read;
            for (std::size_t i = 0; i < kModbusDiagnostics.size(); ++i) {
                unit.figures[i] = link.Figure(kModbusDiagnostics[i]);
            }
            units.push_back(unit);
        }
    }
    server_.Update(std::move(values), std::move(units));
}

} // namespace vemox::host
