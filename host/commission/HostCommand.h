#pragma once
// What every command of vemox-host shares: the program's options, its exit codes, and the
// pieces a command builds its driver session from.
#include "host/commission/Trace.h"
#include "host/config/HostConfig.h"
#include "host/line/StandardError.h"
#include "host/session/DriverSession.h"

#include <CLI/CLI.hpp>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vemox::host {

constexpr int kExitOk = 0;
constexpr int kExitNotGood = 1;
constexpr int kExitCannotStart = 2;

struct HostOptions {
    std::string configPath;
    std::string driverPath;
    bool log = false;
    bool trace = false;
    std::vector<std::string> deviceOverrides; // COMn=DEVICE
};

void AddHostOptions(CLI::App& app, HostOptions& options);

// The command the command line chose; it runs once parsing is over, so that every option,
// wherever it stood, is known.
using CommandAction = std::function<int()>;

RunHooks RealTimeHooks(std::function<void()> afterCycle = {});
std::string DriverPathOf(const HostOptions& options);
void ApplyDeviceOverrides(const HostOptions& options, HostConfig& config);
HostConfig LoadWithOverrides(const HostOptions& options);

// Lines the live table shows under itself (nullptr: standard error instead).
using RecentLines = std::deque<std::string>;
void ShowUnderTable(RecentLines& recent, std::string line);
LogSink MakeNoticeSink(RecentLines* recent);
LogSink MakeLogSink(const HostOptions& options, RecentLines* recent);

// A port that cannot be opened does not stop the host: its controllers are reported as
// unreachable, which is what the operator needs to know, and its device is tried again.
LineOpener KeptLines(const HostClock& clock, const HostConfig& config,
                     RecentLines* recent = nullptr);

// With --trace: the host's view of its lines. The trace must outlive every session it
// watches, since a session's last purge still reports to it.
std::unique_ptr<LineTrace> MakeTrace(const HostOptions& options, RecentLines* recent);

} // namespace vemox::host
