#include "host/gateway/RunCommand.h"

#include "host/gateway/LiveTerminal.h"
#include "host/gateway/modbus/ModbusGateway.h"
#include "host/gateway/mqtt/MqttGateway.h"
#include "host/output/LiveScreen.h"
#include "host/output/Recording.h"
#include "host/output/Report.h"
#include "host/output/Sparkline.h"
#include "host/session/ControllerLinks.h"
#include "host/session/SharedLibrary.h"

#include <iostream>
#include <optional>

namespace vemox::host {
namespace {

constexpr std::int64_t kRedrawMs = 500;

int Run(const HostOptions& options, bool plainRequested, const std::optional<std::string>& record) {
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
    if (record) {
        recording = std::make_unique<Recording>(*record);
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
    // Taken once the session stands, so that a configuration or library error is told on
    // the ordinary screen; given back before "stopped", also when the run fails.
    std::unique_ptr<LiveTerminal> terminal;
    if (table) {
        terminal = std::make_unique<LiveTerminal>();
    }
    LiveScreen screen;
    const std::string title = "vemox-host run  " + session.Config().file + "  " +
                              std::to_string(session.Items().size()) +
                              " items  (q or Ctrl-C stops)";
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
        const LiveContent content{title,
                                  ItemCells(session.Items(), trends.Texts(session.Items().size())),
                                  ControllerCells(links.Read()), recent};
        terminal->Draw(screen.Lay(content, terminal->Width(), terminal->Height()));
    };
    const auto show = [&] {
        std::vector<ReadRecord> records;
        for (const FinishedReads::Read& read : finished.Take(session.Items())) {
            trends.Add(read);
            records.push_back(RecordOf(*read.item, read.replyMs));
            if (recording && !recording->Row(records.back())) {
                MakeNoticeSink(under)("--record " + *record + ": cannot write, stopped");
                recording.reset();
            }
        }
        if (terminal) {
            draw();
            return;
        }
        for (const ReadRecord& read : records) {
            std::cout << PlainLine(read) << std::endl;
        }
    };
    RunHooks hooks = RealTimeHooks([&] {
        if (mqtt) {
            mqtt->AfterCycle();
        }
        if (modbus) {
            modbus->AfterCycle();
        }
        show();
    });
    hooks.interrupted = [&quit] { return quit || InterruptRequested(); };
    session.RunUntil({}, INT64_MAX, true, hooks);
    terminal.reset();
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
