// vemox-sim: plays weighing controllers on a pseudo-terminal or a serial device.
#include "sim/Endpoint.h"
#include "sim/LineOptions.h"
#include "sim/Server.h"

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace {

using namespace vemox::sim;

// A line the simulator cannot be told to play (command line, line file) is refused as the host
// refuses a bad configuration; a system that fails it (terminal, device) is another matter.
constexpr int kExitBadInput = 2;
constexpr int kExitFailed = 1;

int g_wake = -1; // write end of the wake pipe, for the signal handler

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto n = write(g_wake, &byte, 1);
    errno = saved;
}

void InstallStopHandlers(int wake) {
    g_wake = wake;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string Hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const auto b : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

void LogExchange(const Line& line, const Exchange& e) {
    const double seconds = std::chrono::duration<double>(e.at).count();
    std::fprintf(stderr, "%10.3f  Rx %s", seconds, Hex(e.request).c_str());
    if (!e.controller) {
        std::fprintf(stderr, "  (silence: %s)\n", std::string(SilenceName(e.silence)).c_str());
        return;
    }
    const auto& c = line.controller(*e.controller).config();
    std::fprintf(stderr, "  #%llu address %d serial %u", static_cast<unsigned long long>(e.number),
                 c.address, c.serial);
    if (e.fault.kind != FaultKind::None) {
        std::fprintf(stderr, "  fault %s", std::string(FaultName(e.fault.kind)).c_str());
    }
    if (e.sent.empty()) {
        std::fprintf(stderr, "  (no reply)\n");
    } else {
        std::fprintf(stderr, "  Tx %s\n", Hex(e.sent).c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Plays weighing controllers on a serial line: a new pseudo-terminal (its path is "
                 "printed as \"pty: PATH\") or a serial device."};
    std::string configFile, device, link, tapLink, faultRates, faultScript;
    std::vector<std::string> controllers;
    bool demo = false, noCrc = false, echo = false, verbose = false;
    std::uint32_t baud = 9600, turnaroundMs = 2, lateMs = 0, splitPieces = 0, splitGapMs = 0,
                  junkBytes = 0;
    std::uint64_t seed = 1;

    app.add_option("--config", configFile, "TOML file describing the line");
    app.add_option(
        "--controller", controllers,
        "a controller as KEY=VALUE,...: addr, serial (default: the address), decimals, net, "
        "tare, from, to, "
        "period-ms, inputs, outputs, output-bytes, state, dosing, counterN, pointN=LOW:HIGH");
    app.add_flag("--demo", demo,
                 "three controllers with moving weights (addresses 1, 2, 3; "
                 "the third is meant to be addressed by serial number 123456)");
    app.add_flag("--no-crc", noCrc, "the line runs without checksum");
    app.add_flag("--echo", echo,
                 "every request comes back before its reply, as on a two-wire RS-485 adapter");
    app.add_option("--baud", baud,
                   "line rate in baud, 8N1; 0 sends replies without line-rate delays. On a "
                   "pseudo-terminal, a client that sets another rate hears and is heard garbled");
    app.add_option("--turnaround-ms", turnaroundMs, "controller time from request to reply")
        ->capture_default_str();
    app.add_option("--fault-rate", faultRates,
                   "fault probabilities, e.g. no-reply=0.05,bad-crc=0.01; the faults: " +
                       AllFaultNames());
    app.add_option("--fault-script", faultScript,
                   "faults by exchange number, e.g. 3:no-reply,7:late=300 (any fault of "
                   "--fault-rate)");
    app.add_option("--late-ms", lateMs, "delay of a late reply");
    app.add_option("--split-pieces", splitPieces, "pieces of a split reply");
    app.add_option("--split-gap-ms", splitGapMs, "gap between the pieces of a split reply");
    app.add_option("--junk-bytes", junkBytes, "junk bytes before a frame");
    app.add_option("--seed", seed, "seed of the fault draws");
    auto* deviceOption = app.add_option(
        "--device", device, "serve this serial device instead of a new pseudo-terminal");
    app.add_option("--link", link, "also make this symbolic link to the pseudo-terminal")
        ->excludes(deviceOption);
    app.add_option("--tap", tapLink,
                   "a second pseudo-terminal, linked at this path, that carries a copy of all "
                   "line traffic both ways, for a listener such as vemox-host monitor");
    app.add_flag("-v,--verbose", verbose, "log every exchange on stderr");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitBadInput;
    }

    try {
        SimConfig config;
        config.timing.baud = baud;
        config.timing.turnaround = std::chrono::milliseconds(turnaroundMs);
        if (!configFile.empty()) {
            LoadLineFile(configFile, config);
        }
        // The command line has the last word over the file.
        if (app.count("--baud") != 0) {
            config.timing.baud = baud;
        }
        if (app.count("--turnaround-ms") != 0) {
            config.timing.turnaround = std::chrono::milliseconds(turnaroundMs);
        }
        if (demo) {
            for (const auto& c : DemoControllers()) {
                config.line.controllers.push_back(c);
            }
        }
        for (const auto& text : controllers) {
            config.line.controllers.push_back(ParseController(text));
        }
        if (noCrc) {
            config.line.checksum = false;
        }
        if (echo) {
            config.line.echo = true;
        }
        if (!faultRates.empty()) {
            config.faults.rates = ParseFaultRates(faultRates);
        }
        if (!faultScript.empty()) {
            config.faults.script = ParseFaultScript(faultScript);
        }
        auto& settings = config.faults.settings;
        const auto given = [&app](const char* option) { return app.count(option) != 0; };
        settings.lateMs = given("--late-ms") ? lateMs : settings.lateMs;
        settings.splitPieces = given("--split-pieces") ? splitPieces : settings.splitPieces;
        settings.splitGapMs = given("--split-gap-ms") ? splitGapMs : settings.splitGapMs;
        settings.junkBytes = given("--junk-bytes") ? junkBytes : settings.junkBytes;
        if (app.count("--seed") != 0) {
            config.faults.seed = seed;
        }
        CheckConfig(config);

        Simulator simulator(config);
        if (verbose) {
            simulator.SetObserver(
                [&simulator](const Exchange& e) { LogExchange(simulator.line(), e); });
        }

        const WakePipe wake = OpenWakePipe();
        InstallStopHandlers(wake.write.get());

        Pty pty;
        Fd serial;
        std::unique_ptr<Symlink> named;
        int line = -1;
        ServerOptions serving;
        if (!device.empty()) {
            serial = OpenSerialDevice(device, config.timing.baud == 0 ? 9600 : config.timing.baud);
            line = serial.get();
            std::cout << "device: " << device << std::endl;
        } else {
            pty = OpenPty(config.timing.baud);
            line = pty.master.get();
            // A real line at the wrong rate garbles; a pseudo-terminal would not, unless told.
            if (TerminalHasRate(config.timing.baud)) {
                serving.clientBaud = [slave = pty.slave.get()] { return TerminalBaud(slave); };
            }
            std::cout << "pty: " << pty.path << std::endl;
            if (!link.empty()) {
                named = std::make_unique<Symlink>(link, pty.path);
                std::cout << "link: " << link << std::endl;
            }
        }
        Pty tap;
        std::unique_ptr<Symlink> tapNamed;
        if (!tapLink.empty()) {
            tap = OpenPty();
            serving.tap = tap.master.get();
            tapNamed = std::make_unique<Symlink>(tapLink, tap.path);
            std::cout << "tap: " << tapLink << " -> " << tap.path << std::endl;
        }
        Server(simulator, line, wake.read.get(), serving).Run();
        if (verbose) {
            std::fprintf(stderr, "stopped after %llu answered exchanges\n",
                         static_cast<unsigned long long>(simulator.answered()));
        }
        return 0;
    } catch (const LineError& e) {
        std::cerr << "vemox-sim: " << e.what() << std::endl;
        return kExitBadInput;
    } catch (const std::exception& e) {
        std::cerr << "vemox-sim: " << e.what() << std::endl;
        return kExitFailed;
    }
}
