#pragma once
// The commissioning commands of vemox-host: each adds its subcommand, and when the command
// line chooses it, sets the action that main runs.
#include "host/commission/HostCommand.h"

namespace vemox::host {

void AddReadCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen);
void AddWriteCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen);
void AddScanCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen);
void AddMonitorCommand(CLI::App& app, CommandAction& chosen);
void AddCheckCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen);

// A command naming its controller with --address or --serial brings its own configuration:
// the options that choose or change a configuration file are refused, not ignored.
void RefuseFileOptions(const HostOptions& options, const char* command);

} // namespace vemox::host
