// `read`: every configured item once, or one value of one controller from the command line.
#include "config/Encodings.h"
#include "host/commission/AdHoc.h"
#include "host/commission/Commands.h"
#include "host/commission/ReadSeries.h"
#include "host/output/LinksText.h"
#include "host/output/Report.h"
#include "host/session/ControllerLinks.h"

#include <iostream>
#include <map>

namespace vemox::host {
namespace {

constexpr std::int64_t kGraceMs = 1000;

std::int64_t ReadDeadline(const DriverSession& session, const HostClock& clock) {
    // Requests to one port go out one after another; every item may need the whole
    // watchdog time of its request.
    std::map<int, std::int64_t> perPort;
    std::int64_t longest = 0;
    for (const ItemConfig& item : session.Config().items) {
        const int port = session.Config().FindNode(item.node)->portNumber;
        longest = std::max(longest, perPort[port] += session.WatchdogMs());
    }
    return clock.NowMs() + longest + kGraceMs;
}

int ReadOnce(const HostOptions& options, bool json) {
    SteadyClock clock;
    const auto trace = MakeTrace(options, nullptr);
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), lines);
    TraceLines(session, trace.get());
    // Diagnostic items are read after the others, so that they tell how those reads went.
    std::vector<SessionItem*> exchanges;
    std::vector<SessionItem*> diagnostics;
    for (SessionItem& item : session.Items()) {
        const bool diagnostic = item.config.operation->operation == Operation::LinkDiagnostics;
        (diagnostic ? diagnostics : exchanges).push_back(&item);
    }
    session.Read(exchanges);
    session.RunUntil([&] { return session.AllIdle(); }, ReadDeadline(session, clock), false,
                     RealTimeHooks());
    session.Read(diagnostics);
    bool allGood = true;
    for (const SessionItem& item : session.Items()) {
        allGood = allGood && IsGood(item);
    }
    if (json) {
        nlohmann::json document = ItemsJson(session.Items());
        document["controllers"] = LinksJson(ControllerLinks(session).Read());
        std::cout << document.dump(2) << std::endl;
    } else {
        for (const SessionItem& item : session.Items()) {
            std::cout << PlainLine(RecordOf(item)) << "\n";
        }
    }
    for (const std::string& node : UnreachableNodes(session.Items())) {
        ErrorLine(Priority::Warning, "vemox-host: unreachable controller: " + node);
    }
    return allGood ? kExitOk : kExitNotGood;
}

int ReadAdHoc(const HostOptions& options, const AdHocOptions& adHoc,
              const std::vector<std::string>& words, const SeriesOptions& series) {
    SteadyClock clock;
    const auto trace = MakeTrace(options, nullptr);
    AdHocItem target = AdHocConfig(adHoc, words);
    if (target.config.items.front().WriteOnly()) {
        throw ConfigError("dosing control is only written; its read brings no value");
    }
    DriverSession session(std::move(target.config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), OpenConfiguredLine);
    TraceLines(session, trace.get());
    SessionItem& item = *session.FindItem(target.item);
    return ReadSeries(session, item, series, clock, RealTimeHooks(), std::cout);
}

struct ReadChoice {
    bool once = false;
    bool json = false;
    std::vector<std::string> words;
    AdHocOptions adHoc;
    SeriesOptions series;
};

} // namespace

void RefuseFileOptions(const HostOptions& options, const char* command) {
    const auto refuse = [command](const std::string& option, const char* why) {
        throw ConfigError(std::string(command) + ": --address or --serial reaches a controller " +
                          why + "; leave out " + option);
    };
    if (!options.configPath.empty()) {
        refuse("-c", "without a configuration file");
    }
    if (!options.deviceOverrides.empty()) {
        refuse("--device", "on the DEVICE given, not on a configured port");
    }
}

void AddReadCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto choice = std::make_shared<ReadChoice>();
    CLI::App* read = app.add_subcommand(
        "read", "read every configured item once (-c FILE --once), or one value of one "
                "controller straight from the command line (DEVICE --address N WHAT)");
    read->add_flag("--once", choice->once, "read every configured item once");
    read->add_flag("--json", choice->json, "print the items as JSON");
    read->add_option("WORDS", choice->words,
                     "without a file: DEVICE (a path, or COMn) and what to read: " +
                         AdHocWhat(true));
    AddAdHocOptions(*read, choice->adHoc);
    AddSeriesOptions(*read, choice->series);
    read->footer("Examples:\n"
                 "  vemox-host -c plant.toml read --once --json\n"
                 "  vemox-host read /dev/ttyUSB0 --address 5 net\n"
                 "  vemox-host read /dev/ttyUSB0 --serial 123456 counter 3 --baud 19200 --no-crc\n"
                 "  vemox-host read COM3 --address 2 point 2 upper --count 20 --interval 500\n"
                 "Counters 1 and 3 and weight-point levels are scaled by the weight's decimal "
                 "places: a net weight read goes first to bring them.");
    read->callback([choice, &options, &chosen] {
        chosen = [choice, &options] {
            if (!choice->adHoc.Given() && choice->words.empty()) {
                if (!choice->once) {
                    throw ConfigError("read: give --once (with -c FILE), or DEVICE --address N "
                                      "WHAT");
                }
                return ReadOnce(options, choice->json);
            }
            RefuseFileOptions(options, "read");
            if (choice->once) {
                throw ConfigError("read: --once reads the items of -c FILE; a read with "
                                  "--address or --serial reads its one value (--count N for "
                                  "more); leave out --once");
            }
            choice->series.json = choice->json;
            return ReadAdHoc(options, choice->adHoc, choice->words, choice->series);
        };
    });
}

} // namespace vemox::host
