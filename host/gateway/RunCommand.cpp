#include "host/gateway/RunCommand.h"

#include "host/gateway/ServiceReport.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/output/LinksText.h"
#include "host/output/Recording.h"
#include "host/output/Report.h"
#include "host/output/Sparkline.h"
#include "host/session/ControllerLinks.h"
#include "host/session/LinePool.h"
#include "host/session/SharedLibrary.h"

#include <cstdio>
#include <iostream>

namespace vemox::host {
namespace {

constexpr std::int64_t kRedrawMs = 500;
// How long a reload waits for the reads and writes in flight to end before the session that
// carries them is replaced; longer than any exchange with the driver's repeats.
constexpr std::int64_t kReloadDrainMs = 30000;

// One configuration at work: its session, its controllers' link figures and what the
// operator sees of its reads.
struct Plant {
    Plant(HostConfig config, const HostOptions& options, const HostClock& clock, LinePool& lines,
          RecentLines* under, LineTrace* trace)
        : session(std::move(config), DriverPathOf(options), clock, MakeLogSink(options, under),
                  lines.Opener()),
          links(session) {
        TraceLines(session, trace);
    }
    DriverSession session;
    ControllerLinks links;
    FinishedReads finished;
    Trends trends;
};

void TellWriteOnly(DriverSession& session) {
    for (const SessionItem& item : session.Items()) {
        if (item.config.WriteOnly()) {
            std::cout << item.config.FullName() << ": write-only, not read" << std::endl;
        }
    }
}

std::string StatusText(const Plant& plant, const MqttGateway* mqtt) {
    const std::size_t lines = plant.session.Config().ports.size();
    std::string text = std::to_string(lines) + (lines == 1 ? " line" : " lines");
    if (mqtt) {
        text += std::string(", mqtt ") + (mqtt->Connected() ? "connected" : "not connected");
    }
    return text;
}

int Run(const HostOptions& options, bool plainRequested, const std::string& record) {
    SteadyClock clock;
    const bool table = StdoutIsTerminal() && !plainRequested;
    RecentLines recent;
    RecentLines* const under = table ? &recent : nullptr;
    const auto trace = MakeTrace(options, under);
    HostConfig config = LoadWithOverrides(options);
    ServiceReport service(ConnectServiceManager(), clock);
    // Under a service manager a hang-up is its reload; on a terminal it still means the
    // terminal closed.
    if (service.Listening()) {
        InstallReloadHandler();
    }
    LinePool lines(KeptLines(clock, config, under));
    auto plant =
        std::make_unique<Plant>(std::move(config), options, clock, lines, under, trace.get());
    std::unique_ptr<Recording> recording;
    if (!record.empty()) {
        recording = std::make_unique<Recording>(record);
    }
    if (!table) {
        TellWriteOnly(plant->session);
    }
    // Publishing starts with polling: values go out as soon as the broker takes the
    // connection, whenever that is.
    std::unique_ptr<MqttGateway> mqtt;
    const auto startMqtt = [&] {
        if (plant->session.Config().mqtt) {
            mqtt = std::make_unique<MqttGateway>(*plant->session.Config().mqtt, plant->session,
                                                 plant->links, clock, RealTimeHooks(),
                                                 MakeNoticeSink(under));
        }
    };
    startMqtt();
    std::int64_t lastDraw = -kRedrawMs;
    // Shows and records the reads that finished; answers how many of them were good.
    const auto show = [&]() -> std::size_t {
        DriverSession& session = plant->session;
        const std::vector<FinishedReads::Read> reads = plant->finished.Take(session.Items());
        std::size_t good = 0;
        for (const FinishedReads::Read& read : reads) {
            good += IsGood(*read.item) ? 1 : 0;
            plant->trends.Add(read);
            if (recording && !recording->Row(read)) {
                ErrorLine(Priority::Error,
                          "vemox-host: --record " + record + ": cannot write, stopped");
                recording.reset();
            }
        }
        if (table) {
            if (clock.NowMs() - lastDraw < kRedrawMs) {
                return good;
            }
            lastDraw = clock.NowMs();
            std::string screen =
                "\x1b[H\x1b[J" +
                TableText(session.Items(), plant->trends.Texts(session.Items().size())) + "\n" +
                LinksTableText(plant->links.Read());
            for (const std::string& line : recent) {
                screen += line + "\n";
            }
            screen += "Ctrl-C stops.\n";
            std::fputs(screen.c_str(), stdout);
            std::fflush(stdout);
            return good;
        }
        for (const FinishedReads::Read& read : reads) {
            std::cout << PlainLine(*read.item) << std::endl;
        }
        return good;
    };
    const auto report = [&](std::size_t good) {
        service.AfterCycle(good, [&] { return StatusText(*plant, mqtt.get()); });
    };
    bool reloadAsked = false;
    const auto stopOrReload = [&] {
        reloadAsked = reloadAsked || TakeReloadRequest();
        return InterruptRequested() || reloadAsked;
    };
    for (;;) {
        plant->session.RunUntil({}, INT64_MAX, true, {{}, stopOrReload, [&] {
                                                          if (mqtt) {
                                                              mqtt->AfterCycle();
                                                          }
                                                          report(show());
                                                      }});
        if (InterruptRequested()) {
            break;
        }
        reloadAsked = false;
        service.Reloading();
        HostConfig next;
        try {
            next = LoadWithOverrides(options);
        } catch (const ConfigError& error) {
            ErrorLine(Priority::Error, std::string(error.what()) +
                                           "\nvemox-host: reload refused; the running "
                                           "configuration stays");
            service.Reloaded();
            continue;
        }
        // The reads and writes in flight end in the session that carries them.
        DriverSession& old = plant->session;
        old.RunUntil([&] { return old.AllIdle(); }, clock.NowMs() + kReloadDrainMs, false,
                     {{}, InterruptRequested, [&] { report(show()); }});
        const bool mqttChanged = next.mqtt.has_value() != old.Config().mqtt.has_value() ||
                                 (next.mqtt && *next.mqtt != *old.Config().mqtt);
        if (mqttChanged) {
            mqtt.reset();
        }
        // The driver keeps its settings process-wide: the old session ends before the next.
        plant.reset();
        const LinePool::Changes changes = lines.KeepOnly(next.ports);
        const std::size_t opened = next.ports.size() - changes.kept;
        plant = std::make_unique<Plant>(std::move(next), options, clock, lines, under, trace.get());
        if (mqtt) {
            mqtt->Rebind(plant->session, plant->links);
        } else {
            startMqtt();
        }
        ErrorLine(Priority::Info, "vemox-host: reloaded " + plant->session.Config().file + ": " +
                                      std::to_string(changes.kept) + " line(s) kept open, " +
                                      std::to_string(opened) + " opened, " +
                                      std::to_string(changes.closed) + " closed; " +
                                      std::to_string(plant->session.Items().size()) + " items" +
                                      (mqtt && !mqttChanged ? "; mqtt connection kept" : ""));
        service.Reloaded();
    }
    service.Stopping();
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
