#include "host/commission/HostCommand.h"

#include "host/session/SharedLibrary.h"

#include <iostream>

namespace vemox::host {
namespace {

constexpr std::size_t kLogLinesShown = 8;

} // namespace

void AddHostOptions(CLI::App& app, HostOptions& options) {
    app.add_option("-c,--config", options.configPath, "configuration file (TOML)");
    app.add_option("--driver", options.driverPath,
                   "driver library (default: the one beside this program)");
    app.add_flag("--log", options.log, "show the driver's log lines (Tx, Rx, failures)");
    app.add_flag("--trace", options.trace,
                 "show each request and reply as the host saw it on the line: timed, decoded, "
                 "beside the raw bytes (run, read, write, scan; on standard error, or under the "
                 "live table)");
    app.add_option("--device", options.deviceOverrides,
                   "COMn=DEVICE: open DEVICE for port COMn instead of the configured one");
}

RunHooks RealTimeHooks(std::function<void()> afterCycle) {
    return {{}, InterruptRequested, std::move(afterCycle)}; // waits on the real lines
}

std::string DriverPathOf(const HostOptions& options) {
    if (!options.driverPath.empty()) {
        return options.driverPath;
    }
    return ExecutableDirectory() + "/" + DriverFileName();
}

void ApplyDeviceOverrides(const HostOptions& options, HostConfig& config) {
    for (const std::string& entry : options.deviceOverrides) {
        const auto equals = entry.find('=');
        const int number = PortNumberOfName(entry.substr(0, equals));
        if (equals == std::string::npos || number < 0) {
            throw ConfigError("--device " + entry + ": expected COMn=DEVICE");
        }
        if (equals + 1 == entry.size()) {
            throw ConfigError("--device " + entry + ": no device given");
        }
        bool found = false;
        for (PortConfig& port : config.ports) {
            if (port.number == number) {
                port.device = entry.substr(equals + 1);
                found = true;
            }
        }
        if (!found) {
            throw ConfigError("--device " + entry + ": " + config.file +
                              " defines no such [[port]]");
        }
    }
}

HostConfig LoadWithOverrides(const HostOptions& options) {
    if (options.configPath.empty()) {
        throw ConfigError("no configuration: give --config FILE");
    }
    HostConfig config = LoadHostConfig(options.configPath);
    ApplyDeviceOverrides(options, config);
    if (config.items.empty()) {
        throw ConfigError(config.file + ": no [[item]] sections, nothing to read");
    }
    return config;
}

void ShowUnderTable(RecentLines& recent, std::string line) {
    recent.push_back(std::move(line));
    while (recent.size() > kLogLinesShown) {
        recent.pop_front();
    }
}

LogSink MakeNoticeSink(RecentLines* recent) {
    return [recent](const std::string& line) {
        if (recent) {
            ShowUnderTable(*recent, line);
        } else {
            ErrorLine(Priority::Warning, "vemox-host: " + line);
        }
    };
}

LogSink MakeLogSink(const HostOptions& options, RecentLines* recent) {
    if (!options.log) {
        return {};
    }
    return [recent](const std::string& line) {
        if (recent) {
            ShowUnderTable(*recent, "log: " + line);
        } else {
            ErrorLine(Priority::Info, "log: " + line);
        }
    };
}

LineOpener KeptLines(const HostClock& clock, const HostConfig& config, RecentLines* recent) {
    return ReopeningLines(clock, config.timing.reopenMs, MakeNoticeSink(recent));
}

std::unique_ptr<LineTrace> MakeTrace(const HostOptions& options, RecentLines* recent) {
    if (!options.trace) {
        return nullptr;
    }
    return std::make_unique<LineTrace>([recent](const std::string& line) {
        if (recent) {
            ShowUnderTable(*recent, line);
        } else {
            ErrorLine(Priority::Info, line);
        }
    });
}

} // namespace vemox::host
