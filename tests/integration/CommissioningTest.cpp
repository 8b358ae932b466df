// Commissioning a line from the command line, against the simulator: one-line reads and writes
// without a configuration file, a repeated read and its summary, the decoded trace, the passive
// monitor on the simulator's tap, discovery of the rate and checksum mode, and recordings.
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <regex>
#include <sstream>

namespace vemox::testing {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// vemox-host with DEVICE standing for the simulator's pseudo-terminal.
Finished AdHoc(const std::string& pty, std::vector<std::string> args) {
    args.insert(args.begin(), VEMOX_HOST_PATH);
    for (std::string& arg : args) {
        arg = arg == "DEVICE" ? pty : arg;
    }
    return RunToEnd(args, kRunMs);
}

struct AdHocCase {
    const char* name;
    std::vector<std::string> simOptions;
    // Commands run in turn, each with the text its standard output must hold.
    std::vector<std::pair<std::vector<std::string>, std::string>> steps;
};

class AdHocCommands : public ::testing::TestWithParam<AdHocCase> {};

TEST_P(AdHocCommands, ReadAndWriteOneValueWithoutAFile) {
    Sim sim(GetParam().simOptions);
    for (const auto& [args, expected] : GetParam().steps) {
        const Finished run = AdHoc(sim.Pty(), args);
        EXPECT_EQ(run.exitCode, 0) << args[0] << " " << args.back() << "\n" << run.out << run.err;
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << run.out;
    }
    sim.Stop();
}

// The demo line: Hopper (address 1, hundredths), Belt (address 2, tenths) and the controller
// with serial number 123456 (address 3).
INSTANTIATE_TEST_SUITE_P(
    Commissioning, AdHocCommands,
    ::testing::Values(
        AdHocCase{"NetByAddress",
                  {"--demo"},
                  {{{"read", "DEVICE", "--address", "1", "net"}, "address 1.net = "}}},
        AdHocCase{"GrossBySerial",
                  {"--demo"},
                  {{{"read", "DEVICE", "--serial", "123456", "gross"}, "] ok"}}},
        // Counters 1 and 3 and levels are scaled by the decimal places of a net weight read.
        AdHocCase{"CounterBySerial",
                  {"--demo"},
                  {{{"read", "DEVICE", "--serial", "123456", "counter", "1"},
                    "serial 123456.counter 1 = 61000 [good]"}}},
        AdHocCase{"CounterByAddress",
                  {"--demo"},
                  {{{"read", "DEVICE", "--address", "1", "counter", "3"},
                    "address 1.counter 3 = 123.45 [good]"}}},
        AdHocCase{"InputByAddress",
                  {"--demo"},
                  {{{"read", "DEVICE", "--address", "2", "input", "15"}, "input 15 = 1 [good]"}}},
        AdHocCase{"OutputBySerial",
                  {"--demo"},
                  {{{"read", "DEVICE", "--serial", "123456", "output", "0"}, "[good]"}}},
        AdHocCase{"PointByAddress",
                  {"--demo"},
                  {{{"read", "DEVICE", "--address", "1", "point", "0", "upper"},
                    "point 0 upper = 2400 [good]"}}},
        AdHocCase{"StateByAddress",
                  {"--demo"},
                  {{{"read", "DEVICE", "--address", "2", "state", "6"}, "state 6 = 1 [good]"}}},
        AdHocCase{"WriteOutputByAddress",
                  {"--demo"},
                  {{{"write", "DEVICE", "--address", "1", "output", "3", "on"},
                    "address 1.output 3 <- on: ok"},
                   {{"read", "DEVICE", "--address", "1", "output", "3"}, "output 3 = 1 [good]"}}},
        AdHocCase{"WritePointBySerial",
                  {"--demo"},
                  {{{"write", "DEVICE", "--serial", "123456", "point", "8", "upper", "975"},
                    "serial 123456.point 8 upper <- 975: ok"},
                   {{"read", "DEVICE", "--serial", "123456", "point", "8", "upper"},
                    "point 8 upper = 975 [good]"}}},
        AdHocCase{"LineWithoutChecksumAtAnotherRate",
                  {"--demo", "--no-crc", "--baud", "19200"},
                  {{{"read", "DEVICE", "--address", "2", "net", "--no-crc", "--baud", "19200"},
                    "[good]"}}}),
    [](const auto& param) { return std::string(param.param.name); });

// The second reply comes late: the read after it starts at once, and the ones after that keep
// the interval instead of making up for the reads missed.
TEST(Commissioning, ACountedReadKeepsItsIntervalAndEndsWithItsSummary) {
    Sim sim({"--demo", "-v", "--fault-script", "2:late=500"});
    const Finished run = AdHoc(sim.Pty(), {"read", "DEVICE", "--address", "1", "net", "--count",
                                           "20", "--interval", "50"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(Count(run.out, "[good] ok"), 20) << run.out;
    std::vector<double> stamped; // seconds of the day
    for (const std::string& line : Lines(run.out)) {
        std::smatch time;
        if (std::regex_search(line, time, std::regex("(\\d\\d):(\\d\\d):(\\d\\d\\.\\d+)Z"))) {
            stamped.push_back(std::stoi(time[1]) * 3600 + std::stoi(time[2]) * 60 +
                              std::stod(time[3]));
        }
    }
    // Reply times vary from read to read; a burst would squeeze eleven reads into a few.
    ASSERT_EQ(stamped.size(), 20u);
    EXPECT_GE(stamped[19] - stamped[2], 0.8 * 17 * 0.05) << run.out;
    std::smatch summary;
    const std::string last = Lines(run.out).back();
    ASSERT_TRUE(std::regex_match(last, summary,
                                 std::regex("20 reads: 20 good, 0 failed; reply time min (\\d+) "
                                            "ms, avg ([0-9.]+) ms, max (\\d+) ms")))
        << last;
    EXPECT_LE(std::stod(summary[1]), std::stod(summary[2]));
    EXPECT_LE(std::stod(summary[2]), std::stod(summary[3]));
    EXPECT_EQ(Count(sim.Stop().err, "Rx 01 C2"), 20) << "one exchange per read";
}

TEST(Commissioning, TheTraceNamesAChecksumErrorAndATimeOut) {
    Sim sim({"--demo", "--fault-script", "1:bad-crc,2:no-reply"});
    const Finished run = AdHoc(sim.Pty(), {"read", "DEVICE", "--address", "1", "net", "--trace",
                                           "--timeout", "300", "--tries", "3"});
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    // In this order, each on a line of its own beside the raw bytes where there are any.
    std::size_t at = 0;
    for (const std::string& expected :
         {std::string("COM1 → addr 1 read net weight  FF 01 C2 8A FF FF"),
          std::string(" ms addr 1 checksum error  FF 01 C2 "),
          std::string("COM1 → addr 1 read net weight (try 2)  FF 01 C2 8A FF FF"),
          std::string(" ms addr 1 read net weight: time-out, no reply\n"),
          std::string("COM1 → addr 1 read net weight (try 3)"), std::string(" ms addr 1 net "),
          std::string(" (2 decimals, status 0x02)  FF 01 C2 ")}) {
        at = run.err.find(expected, at);
        ASSERT_NE(at, std::string::npos) << expected << "\n" << run.err;
    }
    sim.Stop();
}

// The monitor's tally of one controller: requests, good, checksum, wrong, no reply.
std::vector<int> Tally(const std::string& summary, const std::string& controller) {
    for (const std::string& line : Lines(summary)) {
        if (line.rfind(controller + " ", 0) == 0) {
            std::istringstream fields(line.substr(controller.size()));
            std::vector<int> counts(5);
            for (int& count : counts) {
                fields >> count;
            }
            return counts;
        }
    }
    return {};
}

TEST(Commissioning, TheMonitorCountsTheExchangesThatTheSimulatorLogged) {
    TempDir dir;
    const std::string tap = dir.Path() + "/tap";
    Sim sim({"--demo", "-v", "--tap", tap, "--fault-script", "3:bad-crc,5:no-reply"});
    Process monitor({VEMOX_HOST_PATH, "monitor", tap});
    ASSERT_TRUE(monitor.WaitForText("listening on " + tap, kStartMs)) << monitor.Errors();
    // Every second, the net weight of address 1 and the state of the controller addressed by
    // its serial number: a quiet line between the rounds.
    const std::string config = dir.Write(
        "m.toml", ConfigText(300, 2, true, {{"Hopper", "address = 1"}, {"Tank", "serial = 123456"}},
                             {{"Hopper", "net", "Вес Нетто", ""},
                              {"Tank", "state0", "Состояние", "bit = 0"}}));
    Process host(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(host.WaitForText("Tank.state0 = ", kRunMs)) << host.Output();
    }
    host.Signal(SIGINT);
    ASSERT_EQ(host.Wait(kStartMs).exitCode, 0);
    monitor.Signal(SIGINT);
    const Finished heard = monitor.Wait(kStartMs);
    ASSERT_EQ(heard.exitCode, 0) << heard.err;
    const std::string logged = sim.Stop().err;

    const int hopper = Count(logged, " address 1 serial ");
    const int tank = Count(logged, " serial 123456");
    ASSERT_GE(tank, 4) << logged; // three rounds and the repeat after the silent one
    EXPECT_EQ(Tally(heard.out, "addr 1"), (std::vector<int>{hopper, hopper - 1, 1, 0, 0}))
        << heard.out;
    EXPECT_EQ(Tally(heard.out, "serial 123456"), (std::vector<int>{tank, tank - 1, 0, 0, 1}))
        << heard.out;
    EXPECT_NE(heard.out.find("→ serial 123456 read state  FF 00 01 E2 40 BF "), std::string::npos);
    EXPECT_NE(heard.out.find("addr 1 checksum error"), std::string::npos);
    EXPECT_NE(heard.out.find("serial 123456 read state: no reply"), std::string::npos);
}

// A controller at 19200 baud: the scan finds its rate and checksum mode. At each rate the
// checksum is tried on first, and once a controller answers, the rate's other mode is not.
TEST(Commissioning, DiscoveryFindsTheRateAndTheChecksumMode) {
    struct Case {
        std::vector<std::string> simOptions;
        std::string settings;
        int tried;
    };
    for (const Case& c : {Case{{"--no-crc"}, "(19200 baud, checksum off)", 16},
                          Case{{}, "(19200 baud, checksum on)", 15}}) {
        std::vector<std::string> options = {"--controller", "addr=3", "--baud", "19200"};
        options.insert(options.end(), c.simOptions.begin(), c.simOptions.end());
        Sim sim(options);
        const Finished run = AdHoc(sim.Pty(), {"scan", "DEVICE", "--baud", "auto", "--crc", "auto",
                                               "--addresses", "1-4", "--timeout", "40"});
        EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
        EXPECT_NE(run.out.find("COM1 address 3: replied in "), std::string::npos) << run.out;
        EXPECT_NE(run.out.find(" ms " + c.settings), std::string::npos) << run.out;
        EXPECT_EQ(Count(run.out, "replied in"), 1) << "only at its own rate\n" << run.out;
        EXPECT_NE(
            run.out.find("1 controller answered (" + std::to_string(c.tried) + " settings tried)"),
            std::string::npos)
            << run.out;
        sim.Stop();
    }
}

// `scan --json`: one object per controller that answers and nothing else on standard output;
// the serial numbers are announced as given.
TEST(Commissioning, AJsonScanPrintsOneObjectPerController) {
    Sim sim({"--demo"});
    const Finished run = AdHoc(sim.Pty(), {"scan", "DEVICE", "--serial", "123456,100001-100003",
                                           "--timeout", "40", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_NE(run.err.find("serial numbers 123456, 100001-100003 (4)"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("3 controllers answered"), std::string::npos) << run.err;
    std::vector<int> serials;
    for (const std::string& line : Lines(run.out)) {
        const auto found = nlohmann::json::parse(line);
        EXPECT_EQ(found.at("port"), "COM1");
        EXPECT_EQ(found.at("baud"), 9600);
        EXPECT_EQ(found.at("checksum"), true);
        EXPECT_GE(found.at("reply_ms").get<int>(), 0);
        serials.push_back(found.at("serial").get<int>());
    }
    EXPECT_EQ(serials, (std::vector<int>{123456, 100001, 100002}));
    sim.Stop();
}

// `run --record`: one row per finished read, with the value and time stamp the read showed.
TEST(Commissioning, ARecordingHoldsARowForEveryRead) {
    TempDir dir;
    const std::string config =
        dir.Write("rec.toml", ConfigText(300, 1, true, {{"Belt", "address = 2\nscan_rate = 0"}},
                                         {{"Belt", "net", "Вес Нетто", ""},
                                          {"Belt", "state6", "Состояние", "bit = 6"},
                                          {"Belt", "dosing", "Управление дозированием", ""}}));
    Sim sim({"--demo"});
    for (const std::string name : {"rows.csv", "rows.jsonl"}) {
        const std::string file = dir.Path() + "/" + name;
        Process host(HostArgs(config, sim.Pty(), {"run", "--plain", "--record", file}));
        for (int read = 0; read < 10; ++read) {
            ASSERT_TRUE(host.WaitForText("] ok", kRunMs)) << host.Output();
        }
        host.Signal(SIGINT);
        const Finished end = host.Wait(kStartMs);
        ASSERT_EQ(end.exitCode, 0) << end.err;
        // "2026-01-02T03:04:05.678Z Belt.net = 12.5 [good] ok; ..." for each finished read.
        std::vector<std::string> reads;
        const std::regex plain("(\\S+) (\\S+) = (\\S+) \\[good\\].*");
        for (const std::string& line : Lines(end.out)) {
            std::smatch m;
            if (std::regex_match(line, m, plain)) {
                reads.push_back(m[1].str() + "," + m[2].str() + "," + m[3].str() + ",192,good");
            }
        }
        ASSERT_GE(reads.size(), 10u) << end.out;
        std::ifstream in(file);
        std::vector<std::string> rows;
        for (std::string row; std::getline(in, row);) {
            rows.push_back(row);
        }
        if (name == "rows.csv") {
            ASSERT_FALSE(rows.empty());
            EXPECT_EQ(rows.front(), "timestamp,item,value,quality,quality_text,reply_ms");
            rows.erase(rows.begin());
        } else {
            for (std::string& row : rows) {
                const auto json = nlohmann::json::parse(row);
                std::ostringstream value;
                value << json.at("value").get<double>();
                row = json.at("timestamp").get<std::string>() + "," +
                      json.at("item").get<std::string>() + "," + value.str() + "," +
                      std::to_string(json.at("quality").get<int>()) + "," +
                      json.at("quality_text").get<std::string>() + "," +
                      std::to_string(json.at("reply_ms").get<int>());
            }
        }
        ASSERT_EQ(rows.size(), reads.size()) << "the write-only item is not read";
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(rows[i].substr(0, reads[i].size() + 1), reads[i] + ",") << rows[i];
            EXPECT_TRUE(std::regex_match(rows[i].substr(reads[i].size() + 1), std::regex("\\d+")))
                << "the reply time: " << rows[i];
        }
    }
    // A name that promises one JSON document, and no name at all, are refused before a read.
    for (const std::string& refused : {dir.Path() + "/rows.json", std::string()}) {
        const Finished run = Host(config, sim.Pty(), {"run", "--plain", "--record", refused});
        EXPECT_EQ(run.exitCode, 2) << refused;
        EXPECT_NE(run.err.find(".jsonl"), std::string::npos) << run.err;
    }
    sim.Stop();
}

TEST(Commissioning, EveryCommandHasHelpWithAnExample) {
    for (const char* command : {"run", "read", "write", "scan", "monitor"}) {
        const Finished help = RunToEnd({VEMOX_HOST_PATH, command, "--help"}, kRunMs);
        EXPECT_EQ(help.exitCode, 0) << command;
        EXPECT_NE(help.out.find("Example"), std::string::npos) << command << "\n" << help.out;
        EXPECT_NE(help.out.find(std::string("vemox-host ")), std::string::npos) << command;
    }
    const Finished scan = RunToEnd({VEMOX_HOST_PATH, "scan", "--help"}, kRunMs);
    EXPECT_NE(scan.out.find("Serial numbers cannot be discovered"), std::string::npos);
    const Finished read = RunToEnd({VEMOX_HOST_PATH, "read", "--help"}, kRunMs);
    EXPECT_EQ(read.out.find("dosing"), std::string::npos) << "a read of it brings no value";
}

} // namespace
} // namespace vemox::testing
