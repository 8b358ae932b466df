// vemox-host: drives the driver library the way the OPC server does, against real serial
// lines, so that weights can be read without the server. This file only dispatches: each
// command lives in its wing.
#include "host/commission/Commands.h"
#include "host/gateway/RunCommand.h"
#include "host/gateway/modbus/ModbusMapCommand.h"
#include "host/line/StandardError.h"
#include "host/session/SharedLibrary.h"

#include <iostream>

namespace {

std::string CommandNames(const CLI::App& app) {
    std::string names;
    for (const CLI::App* command : app.get_subcommands({})) {
        names += (names.empty() ? "" : ", ") + command->get_name();
    }
    return names;
}

} // namespace

int main(int argc, char** argv) {
    using namespace vemox::host;
    PrepareConsole();
    InstallInterruptHandler();

    CLI::App app{"vemox-host: reads weighing controllers through the Vemox driver library"};
    app.set_version_flag("--version", VEMOX_VERSION);
    app.require_subcommand(1);
    // The program's options (--log, --trace, ...) may follow the command too.
    app.fallthrough();
    HostOptions options;
    AddHostOptions(app, options);
    CommandAction chosen;
    AddRunCommand(app, options, chosen);
    AddReadCommand(app, options, chosen);
    AddWriteCommand(app, options, chosen);
    AddScanCommand(app, options, chosen);
    AddMonitorCommand(app, chosen);
    AddModbusMapCommand(app, chosen);
    AddCheckCommand(app, options, chosen);

    try {
        app.parse(argc, argv);
    } catch (const CLI::RequiredError& error) {
        // A word where the command belongs is a mistyped command, whatever else is missing.
        if (app.get_subcommands().empty()) {
            const std::vector<std::string> words = app.remaining();
            std::cerr << "vemox-host: "
                      << (words.empty() ? "give a command"
                                        : "'" + words.front() + "' is not a command")
                      << "; the commands: " << CommandNames(app) << " (--help tells more)\n";
            return kExitCannotStart;
        }
        app.exit(error);
        return kExitCannotStart;
    } catch (const CLI::ParseError& error) {
        // Help is asked for and ends well; any other misuse is refused like a bad configuration.
        const int printed = app.exit(error);
        return printed == 0 ? kExitOk : kExitCannotStart;
    }
    try {
        return chosen();
    } catch (const std::exception& error) {
        ErrorLine(Priority::Error, std::string("vemox-host: ") + error.what());
        return kExitCannotStart;
    }
}
