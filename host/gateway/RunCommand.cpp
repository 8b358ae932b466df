#include "host/gateway/RunCommand.h"

#include "host/gateway/modbus/ModbusGateway.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/output/LinksText.h"
#include "host/output/Recording.h"
#include "host/output/Report.h"
#include "host/output/Sparkline.h"
#include "host/session/ControllerLinks.h"
#include "host/session/SharedLibrary.h"

#include <cstdio>
#include <iostream>

namespace vemox::host {
namespace {

constexpr std::int64_t kRedrawMs = 500;

int Run(const HostOptions& options, bool plainRequested, const std::string& record) {
    SteadyClock clock;
    const bool table = StdoutIsTerminal() && !plainRequested;
    RecentLines recent;
    RecentLines* const under = table ? &recent : nullptr;
    const auto trace = MakeTrace(options, under);
    HostConfig config = LoadWithOverrides(options);
    const LineOpener lines = KeptLines(clock, config, under);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, under), lines);
    TraceLines(session, trace.get());
    std::unique_ptr<Recording> recording;
    if (!record.empty()) {
        recording = std::make_unique<Recording>(record);
    }
    FinishedReads finished;
    Trends trends;
    if (!table) {
        for (const SessionItem& item : session.Items()) {
            if (item.config.WriteOnly()) {
                std::cout << item.config.FullName() << ": write-only, not read" << std::endl;
            }
        }
    }
    ControllerLinks links(session);
    // Publishing starts with polling: values go out as soon as the broker takes the
    // connection, whenever that is.
    std::unique_ptr<MqttGateway> mqtt;
    if (session.Config().mqtt) {
        mqtt = std::make_unique<MqttGateway>(*session.Config().mqtt, session, links, clock,
                                             RealTimeHooks(), MakeNoticeSink(under));
    }
    // Clients are served from the first turn on: values not read yet answer as not good.
    std::unique_ptr<ModbusGateway> modbus;
    if (session.Config().modbus) {
        modbus = std::make_unique<ModbusGateway>(session, links, clock, RealTimeHooks(),
                                                 MakeNoticeSink(under));
    }
    std::int64_t lastDraw = -kRedrawMs;
    const auto show = [&] {
        const std::vector<FinishedReads::Read> reads = finished.Take(session.Items());
        for (const FinishedReads::Read& read : reads) {
            trends.Add(read);
            if (recording && !recording->Row(read)) {
                std::cerr << "vemox-host: --record " << record << ": cannot write, stopped\n";
                recording.reset();
            }
        }
        if (table) {
            if (clock.NowMs() - lastDraw < kRedrawMs) {
                return;
            }
            lastDraw = clock.NowMs();
            std::string screen = "\x1b[H\x1b[J" +
                                 TableText(session.Items(), trends.Texts(session.Items().size())) +
                                 "\n" + LinksTableText(links.Read());
            for (const std::string& line : recent) {
                screen += line + "\n";
            }
            screen += "Ctrl-C stops.\n";
            std::fputs(screen.c_str(), stdout);
            std::fflush(stdout);
            return;
        }
        for (const FinishedReads::Read& read : reads) {
            std::cout << PlainLine(*read.item) << std::endl;
        }
    };
    session.RunUntil({}, INT64_MAX, true, RealTimeHooks([&] {
                         if (mqtt) {
                             mqtt->AfterCycle();
                         }
                         if (modbus) {
                             modbus->AfterCycle();
                         }
                         show();
                     }));
    std::cout << "stopped\n";
    return kExitOk;
}

struct RunChoice {
    bool plain = false;
    std::string record;
};

} // namespace

void AddRunCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto choice = std::make_shared<RunChoice>();
    CLI::App* run = app.add_subcommand("run", "read every item at its scan rate until Ctrl-C");
    run->add_flag("--plain", choice->plain, "plain lines even on a terminal");
    run->add_option("--record", choice->record,
                    "append one row per finished read to FILE: CSV, or JSON lines when FILE "
                    "ends in .jsonl");
    run->footer("Example:\n  vemox-host -c plant.toml run --record weights.csv");
    run->callback([choice, &options, &chosen] {
        chosen = [choice, &options] { return Run(options, choice->plain, choice->record); };
    });
}

} // namespace vemox::host
