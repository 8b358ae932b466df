// The server of builds that have no Modbus library (the Windows builds): a configuration that
// asks for one is refused before anything starts.
#include "host/gateway/modbus/ModbusServer.h"

namespace vemox::host {

struct ModbusServer::Impl {};

ModbusServer::ModbusServer(const HostConfig& config) {
    throw ModbusSetupError("[modbus] listen " + config.modbus->listen +
                           ": this build of vemox-host cannot serve Modbus TCP; remove the "
                           "[modbus] section or run the Linux build");
}

ModbusServer::~ModbusServer() = default;

void ModbusServer::Update(std::vector<ModbusValue>, std::vector<ModbusDiagnostics>) {}

std::vector<ModbusWrite> ModbusServer::TakeWrites() {
    return {};
}

void ModbusServer::Finish(std::uint64_t, ModbusException) {}

} // namespace vemox::host
