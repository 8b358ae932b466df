// `vemox-host run` as a Modbus TCP server: after each turn of the run loop, in the host's own
// thread, the latest finished reads go to the server and the writes its clients asked for are
// carried out, so that the driver's calls never overlap.
#pragma once

#include "host/gateway/modbus/ModbusServer.h"
#include "host/session/ControllerLinks.h"
#include "host/session/DriverSession.h"

namespace vemox::host {

class ModbusGateway {
public:
    // Listens at once. `writeHooks` serve the waits of writes on the line; `notices` tell the
    // operator where the server listens and every write asked for. Throws ModbusSetupError.
    ModbusGateway(DriverSession& session, ControllerLinks& links, const HostClock& clock,
                  const RunHooks& writeHooks, LogSink notices);

    void AfterCycle();

private:
    ModbusException Carry(const ModbusWrite& write);
    void Tell(const std::string& line);

    DriverSession& session_;
    ControllerLinks& links_;
    const HostClock& clock_;
    RunHooks writeHooks_;
    LogSink notices_;
    ModbusServer server_;
    std::int64_t linksReadMs_ = 0;
};

} // namespace vemox::host
