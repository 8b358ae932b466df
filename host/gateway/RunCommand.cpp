#include "host/gateway/RunCommand.h"

#include "host/gateway/LiveTerminal.h"
#include "host/gateway/ServiceReport.h"
#include "host/gateway/modbus/ModbusGateway.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/output/LiveScreen.h"
#include "host/output/Recording.h"
#include "host/output/Report.h"
#include "host/output/Sparkline.h"
#include "host/session/ControllerLinks.h"
#include "host/session/LinePool.h"
#include "host/session/SharedLibrary.h"

#include <iostream>
#include <optional>

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

int Run(const HostOptions& options, bool plainRequested, const std::optional<std::string>& record) {
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
    if (record) {
        recording = std::make_unique<Recording>(*record);
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
    // Clients are served from the first turn on: values not read yet answer as not good.
    std::unique_ptr<ModbusGateway> modbus;
    const auto startModbus = [&] {
        if (plant->session.Config().modbus) {
            modbus = std::make_unique<ModbusGateway>(plant->session, plant->links, clock,
                                                     RealTimeHooks(), MakeNoticeSink(under));
        }
    };
    startModbus();
    // Taken once the session stands, so that a configuration or library error is told on
    // the ordinary screen; given back before "stopped", also when the run fails.
    std::unique_ptr<LiveTerminal> terminal;
    if (table) {
        terminal = std::make_unique<LiveTerminal>();
    }
    LiveScreen screen;
    bool quit = false;
    std::int64_t lastDraw = -kRedrawMs;
    // Keys and resizes redraw at once; values at most every kRedrawMs.
    const auto draw = [&] {
        bool now = false;
        for (LiveKey key = terminal->Next(); key.input != LiveInput::None; key = terminal->Next()) {
            quit = quit || key.input == LiveInput::Quit;
            if (key.input == LiveInput::Scroll) {
                screen.Scroll(key.scroll);
            }
            now = now || key.input == LiveInput::Scroll || key.input == LiveInput::Resized;
        }
        if (!now && clock.NowMs() - lastDraw < kRedrawMs) {
            return;
        }
        lastDraw = clock.NowMs();
        DriverSession& session = plant->session;
        const std::string title = "vemox-host run  " + session.Config().file + "  " +
                                  std::to_string(session.Items().size()) +
                                  " items  (q or Ctrl-C stops)";
        const LiveContent content{
            title, ItemCells(session.Items(), plant->trends.Texts(session.Items().size())),
            ControllerCells(plant->links.Read()), recent};
        terminal->Draw(screen.Lay(content, terminal->Width(), terminal->Height()));
    };
    // Shows and records the reads that finished; answers how many of them were good.
    const auto show = [&]() -> std::size_t {
        std::vector<ReadRecord> records;
        std::size_t good = 0;
        for (const FinishedReads::Read& read : plant->finished.Take(plant->session.Items())) {
            plant->trends.Add(read);
            records.push_back(RecordOf(*read.item, read.replyMs));
            good += records.back().good ? 1 : 0;
            if (recording && !recording->Row(records.back())) {
                MakeNoticeSink(under)("--record " + *record + ": cannot write, stopped");
                recording.reset();
            }
        }
        if (terminal) {
            draw();
            return good;
        }
        for (const ReadRecord& read : records) {
            std::cout << PlainLine(read) << std::endl;
        }
        return good;
    };
    const auto report = [&](std::size_t good) {
        service.AfterCycle(good, [&] { return StatusText(*plant, mqtt.get()); });
    };
    bool reloadAsked = false;
    const auto stopping = [&quit] { return quit || InterruptRequested(); };
    const auto stopOrReload = [&] {
        reloadAsked = reloadAsked || TakeReloadRequest();
        return stopping() || reloadAsked;
    };
    for (;;) {
        plant->session.RunUntil({}, INT64_MAX, true, {{}, stopOrReload, [&] {
                                                          if (mqtt) {
                                                              mqtt->AfterCycle();
                                                          }
                                                          if (modbus) {
                                                              modbus->AfterCycle();
                                                          }
                                                          report(show());
                                                      }});
        if (stopping()) {
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
                     {{}, stopping, [&] { report(show()); }});
        const bool mqttChanged = next.mqtt.has_value() != old.Config().mqtt.has_value() ||
                                 (next.mqtt && *next.mqtt != *old.Config().mqtt);
        if (mqttChanged) {
            mqtt.reset();
        }
        // Its register map follows the items, so the server starts again with the new ones.
        modbus.reset();
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
        startModbus();
        ErrorLine(Priority::Info, "vemox-host: reloaded " + plant->session.Config().file + ": " +
                                      std::to_string(changes.kept) + " line(s) kept open, " +
                                      std::to_string(opened) + " opened, " +
                                      std::to_string(changes.closed) + " closed; " +
                                      std::to_string(plant->session.Items().size()) + " items" +
                                      (mqtt && !mqttChanged ? "; mqtt connection kept" : ""));
        service.Reloaded();
    }
    terminal.reset();
    service.Stopping();
    std::cout << "stopped\n";
    return kExitOk;
}

struct RunChoice {
    bool plain = false;
    std::string record;
    // Given at all: an empty name is refused rather than taken for no recording.
    const CLI::Option* recordGiven = nullptr;
};

} // namespace

void AddRunCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto choice = std::make_shared<RunChoice>();
    CLI::App* run = app.add_subcommand("run", "read every item at its scan rate until Ctrl-C");
    run->add_flag("--plain", choice->plain, "plain lines even on a terminal");
    choice->recordGiven =
        run->add_option("--record", choice->record,
                        "append one row per finished read to FILE: JSON lines when FILE ends in "
                        ".jsonl, CSV otherwise (.json is refused)");
    run->footer("Example:\n  vemox-host -c plant.toml run --record weights.csv");
    run->callback([choice, &options, &chosen] {
        chosen = [choice, &options] {
            return Run(options, choice->plain,
                       choice->recordGiven->count() > 0 ? std::optional(choice->record)
                                                        : std::nullopt);
        };
    });
}

} // namespace vemox::host
