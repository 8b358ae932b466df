// `write`: a value to a configured item, or to one controller from the command line.
#include "host/commission/AdHoc.h"
#include "host/commission/Commands.h"
#include "host/output/Report.h"
#include "host/session/ItemWrite.h"

#include <iostream>
#include <optional>

namespace vemox::host {
namespace {

// An ad-hoc configuration (`adHoc`) is an operator at the line: a device that cannot be opened
// ends the command at once.
int Write(const HostOptions& options, const std::string& itemName, const std::string& text,
          std::optional<HostConfig> adHoc = std::nullopt) {
    SteadyClock clock;
    const auto trace = MakeTrace(options, nullptr);
    HostConfig config = adHoc ? std::move(*adHoc) : LoadWithOverrides(options);
    const LineOpener lines = adHoc ? LineOpener(OpenConfiguredLine) : KeptLines(clock, config);
    DriverSession session(std::move(config), DriverPathOf(options), clock,
                          MakeLogSink(options, nullptr), lines);
    TraceLines(session, trace.get());
    SessionItem* item = session.FindItem(itemName);
    if (!item) {
        const std::vector<std::string> named = session.FullNamesOf(itemName);
        std::string line = std::string("vemox-host: ") + (named.size() > 1 ? "ambiguous" : "no") +
                           " item '" + itemName + "' (give NODE.ITEM";
        for (std::size_t i = 0; i < named.size(); ++i) {
            line += (i == 0 ? ": " : ", ") + named[i];
        }
        ErrorLine(Priority::Error, line + ")");
        return kExitCannotStart;
    }
    const WriteOutcome outcome = WriteItem(session, *item, text, text, clock, RealTimeHooks());
    if (outcome.end != WriteEnd::Written) {
        ErrorLine(Priority::Error, "vemox-host: " + outcome.why);
        return outcome.end == WriteEnd::Refused ? kExitCannotStart : kExitNotGood;
    }
    std::cout << item->config.FullName() << " <- " << text << ": "
              << (outcome.finished ? OutcomeText(outcome.result) : "no outcome") << std::endl;
    return outcome.Acknowledged() ? kExitOk : kExitNotGood;
}

struct WriteChoice {
    std::vector<std::string> words;
    AdHocOptions adHoc;
};

} // namespace

void AddWriteCommand(CLI::App& app, const HostOptions& options, CommandAction& chosen) {
    const auto choice = std::make_shared<WriteChoice>();
    CLI::App* write = app.add_subcommand(
        "write", "write a value to a configured item (ITEM VALUE), or to one controller straight "
                 "from the command line (DEVICE --address N WHAT VALUE)");
    write
        ->add_option("WORDS", choice->words,
                     "ITEM (NODE.ITEM, or ITEM when unique) and VALUE (true, false, on, off or "
                     "a number; an output takes only 0, 1, true, false, on, off); without a file: "
                     "DEVICE, output N, point N lower|upper or "
                     "dosing, and VALUE")
        ->required();
    AddAdHocOptions(*write, choice->adHoc);
    write->footer("Examples:\n"
                  "  vemox-host -c plant.toml write Hopper.output3 on\n"
                  "  vemox-host write /dev/ttyUSB0 --address 5 output 3 on\n"
                  "  vemox-host write /dev/ttyUSB0 --serial 123456 point 2 upper 250.5");
    write->callback([choice, &options, &chosen] {
        chosen = [choice, &options] {
            std::vector<std::string>& words = choice->words;
            if (!choice->adHoc.Given()) {
                if (words.size() != 2) {
                    throw ConfigError("write: give ITEM VALUE, or DEVICE --address N WHAT VALUE");
                }
                return Write(options, words[0], words[1]);
            }
            RefuseFileOptions(options, "write");
            if (words.size() < 3) {
                throw ConfigError("write: give DEVICE, what to write and the value, e.g. "
                                  "DEVICE --address 5 output 3 on");
            }
            const std::string value = words.back();
            words.pop_back();
            AdHocItem target = AdHocConfig(choice->adHoc, words);
            return Write(options, target.item, value, std::move(target.config));
        };
    });
}

} // namespace vemox::host
