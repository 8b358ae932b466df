#pragma once
// `run`: every item at its scan rate until Ctrl-C, shown live, recorded, and published by the
// gateways its configuration names.
#include "host/commission/HostCommand.h"

namespace vemox::host {

void AddRunCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen);

} // namespace vemox::host
