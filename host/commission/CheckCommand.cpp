// `check`: the configuration read and judged as `run` would, with nothing opened or written,
// so that a file can be tried before the host is restarted or told to reload it.
#include "host/commission/Commands.h"

#include <iostream>

namespace vemox::host {
namespace {

std::string Counted(std::size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

int Check(HostOptions options, const std::string& file) {
    if (!file.empty()) {
        options.configPath = file;
    }
    HostConfig config;
    try {
        config = LoadWithOverrides(options);
    } catch (const ConfigError& error) {
        ErrorLine(Priority::Error, error.what());
        return kExitCannotStart;
    }
    for (const PortConfig& port : config.ports) {
        const std::string device = DeviceOf(port);
        if (!DevicePresent(device)) {
            ErrorLine(Priority::Warning,
                      "warning: " + port.name + ": " + device +
                          " is not present; the host will keep trying to open it");
        }
    }
    std::string gateways;
    for (const std::string& name : config.Gateways()) {
        gateways += (gateways.empty() ? "" : ", ") + name;
    }
    std::cout << config.file << ": good: " << Counted(config.ports.size(), "port", "ports") << ", "
              << Counted(config.nodes.size(), "controller", "controllers") << ", "
              << Counted(config.items.size(), "item", "items")
              << ", gateways: " << (gateways.empty() ? "none" : gateways) << std::endl;
    return kExitOk;
}

} // namespace

void AddCheckCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto file = std::make_shared<std::string>();
    CLI::App* check = app.add_subcommand(
        "check", "check the configuration file without opening or writing anything: every "
                 "mistake with its file and line (exit status 2), or a one-line summary");
    check->add_option("FILE", *file, "configuration file (instead of --config)");
    check->footer("Example:\n  vemox-host check /etc/vemox/vemox.toml");
    check->callback(
        [file, &options, &chosen] { chosen = [file, &options] { return Check(options, *file); }; });
}

} // namespace vemox::host
