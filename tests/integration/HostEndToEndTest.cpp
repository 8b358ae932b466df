// The reference host, the driver library and the simulator together, as an operator runs
// them: every operation read and written, both addressings, checksum on and off, faults on
// the line with their outcome and quality, an echoing line, the scan, a stopped line, devices
// that come and go or are taken, refused writes and misuse, and a clean stop at any moment.
#include "Fixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace vemox::testing {
namespace {

// The demo line as it is, and behind a two-wire adapter that gives every request back.
class DemoLine : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(DemoLine, EveryOperationReadsGood) {
    Sim sim(GetParam());
    ASSERT_FALSE(sim.Pty().empty());
    const Finished run = Host(VEMOX_DEMO_CONFIG, sim.Pty(), {"read", "--once", "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    auto items = Items(run);
    for (const auto& [name, item] : items) {
        EXPECT_TRUE(item.at("good").get<bool>()) << name << ": " << item.dump();
        EXPECT_EQ(item.at("quality").get<int>(), 192) << name;
    }
    // Values the demo controllers hold still (weights move, these do not).
    const std::map<std::string, double> expected = {
        {"Hopper.counter1", 42000}, {"Hopper.counter3", 123.45}, {"Hopper.output0", 1},
        {"Hopper.output8", 1},      {"Hopper.point0_low", 10},   {"Hopper.point0_high", 2400},
        {"Hopper.dosing", 0},       {"Belt.input15", 1},         {"Belt.output0", 1},
        {"Belt.output2", 1},        {"Belt.point2_high", 400},   {"Belt.state6", 1},
        {"Tank.counter1", 61000},   {"Tank.input4", 1},          {"Tank.point8_low", 50},
        {"Tank.point8_high", 950}};
    for (const auto& [name, value] : expected) {
        ASSERT_TRUE(items.count(name)) << name;
        EXPECT_DOUBLE_EQ(items[name].at("value").get<double>(), value) << name;
    }
    EXPECT_TRUE(nlohmann::json::parse(run.out).at("unreachable").empty());
    sim.Stop();
}

INSTANTIATE_TEST_SUITE_P(HostEndToEnd, DemoLine,
                         ::testing::Values(std::vector<std::string>{"--demo"},
                                           std::vector<std::string>{"--demo", "--echo"}),
                         [](const auto& param) {
                             return std::string(param.param.size() > 1 ? "Echoing" : "Plain");
                         });

TEST(HostEndToEnd, ChecksumOffOnBothSidesReadsGoodAndAMismatchIsReported) {
    TempDir dir;
    const std::vector<Item> items = {{"Hopper", "counter1", "Счетчик", "counter = 1"},
                                     {"Tank", "net", "Вес Нетто", ""}};
    Sim sim({"--demo", "--no-crc"});
    const Finished plain = Host(dir.Write("off.toml", ConfigText(300, 1, false, kDemoNodes, items)),
                                sim.Pty(), {"read", "--once", "--json"});
    EXPECT_EQ(plain.exitCode, 0) << plain.out << plain.err;
    // No weight has been read in this run, so the counter is not scaled by decimal places.
    EXPECT_DOUBLE_EQ(Items(plain)["Hopper.counter1"].at("value").get<double>(), 4200000);

    // A controller without checksum does not take requests that carry one: it stays silent.
    const Finished mismatch =
        Host(dir.Write("on.toml", ConfigText(300, 1, true, kDemoNodes, items)), sim.Pty(),
             {"read", "--once", "--json"});
    EXPECT_EQ(mismatch.exitCode, 1);
    const auto counter = Items(mismatch)["Hopper.counter1"];
    EXPECT_FALSE(counter.at("good").get<bool>());
    EXPECT_EQ(counter.at("result"), "no reply") << counter.dump();
    EXPECT_EQ(counter.at("quality").get<int>(), 0x0218);
    sim.Stop();
}

TEST(HostEndToEnd, WritesReachTheControllerByAddressAndBySerialNumber) {
    TempDir dir;
    // The net weight comes first: weight points take their decimal places from the last
    // weight read of their controller.
    const std::vector<Item> items = {
        {"Hopper", "net", "Вес Нетто", ""},
        {"Tank", "net", "Вес Нетто", ""},
        {"Hopper", "output0", "Дискретные выходы", "output = 0"},
        {"Hopper", "output3", "Дискретные выходы", "output = 3"},
        {"Hopper", "point0_low", "Весовые точки", "point = 0\nlevel = \"lower\""},
        {"Hopper", "point0_high", "Весовые точки", "point = 0\nlevel = \"upper\""},
        {"Hopper", "dosing", "Управление дозированием", ""},
        {"Tank", "output1", "Дискретные выходы", "output = 1"},
        {"Tank", "point8_high", "Весовые точки", "point = 8\nlevel = \"upper\""}};
    const std::string config = dir.Write("w.toml", ConfigText(500, 2, true, kDemoNodes, items));
    Sim sim({"--demo"});
    const auto write = [&](const std::string& item, const std::string& value) {
        return Host(config, sim.Pty(), {"write", item, value});
    };
    EXPECT_EQ(write("Hopper.output3", "true").exitCode, 0);
    EXPECT_EQ(write("Hopper.point0_high", "2500.5").exitCode, 0);
    const Finished dosing = write("Hopper.dosing", "3");
    EXPECT_EQ(dosing.exitCode, 0);
    EXPECT_NE(dosing.out.find("Hopper.dosing <- 3: ok"), std::string::npos) << dosing.out;
    EXPECT_EQ(write("Tank.output1", "1").exitCode, 0);
    EXPECT_EQ(write("Tank.point8_high", "975").exitCode, 0);

    const Finished readOnly = write("Hopper.net", "5");
    EXPECT_EQ(readOnly.exitCode, 2);
    EXPECT_NE(readOnly.err.find("cannot be written"), std::string::npos);

    const Finished after = Host(config, sim.Pty(), {"read", "--once", "--json"});
    ASSERT_EQ(after.exitCode, 0) << after.err;
    auto values = Items(after);
    EXPECT_EQ(values["Hopper.output3"].at("value").get<double>(), 1);
    EXPECT_EQ(values["Hopper.output0"].at("value").get<double>(), 1) << "other outputs kept";
    EXPECT_DOUBLE_EQ(values["Hopper.point0_high"].at("value").get<double>(), 2500.5);
    EXPECT_DOUBLE_EQ(values["Hopper.point0_low"].at("value").get<double>(), 10)
        << "the other level kept";
    EXPECT_EQ(values["Tank.output1"].at("value").get<double>(), 1);
    EXPECT_DOUBLE_EQ(values["Tank.point8_high"].at("value").get<double>(), 975);
    sim.Stop();
}

struct FaultCase {
    const char* name;
    std::string script; // the simulator's fault for the first exchange
    int tries;
    std::string result;
    int quality;
    unsigned repeats;
    const char* device = nullptr; // instead of the simulator's line
};

class HostFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(HostFaults, EndWithTheirOutcomeAndQuality) {
    const FaultCase& c = GetParam();
    TempDir dir;
    const std::string config =
        dir.Write("f.toml", ConfigText(300, c.tries, true, {{"Hopper", "address = 1"}},
                                       {{"Hopper", "counter1", "Счетчик", "counter = 1"}}));
    Sim sim({"--demo", "--fault-script", c.script, "--split-pieces", "3", "--split-gap-ms", "15"});
    const auto started = std::chrono::steady_clock::now();
    const Finished run =
        Host(config, c.device ? c.device : sim.Pty(), {"read", "--once", "--json"});
    if (c.device) {
        // Bytes that cannot be written wait for no reply.
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    }
    auto item = Items(run)["Hopper.counter1"];
    EXPECT_EQ(item.at("result"), c.result) << item.dump() << run.err;
    EXPECT_EQ(item.at("quality").get<int>(), c.quality);
    EXPECT_EQ(item.at("exchanges").at("repeats").get<unsigned>(), c.repeats);
    EXPECT_EQ(run.exitCode, c.quality == 192 ? 0 : 1);
    sim.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Line, HostFaults,
    ::testing::Values(
        FaultCase{"NoReply", "1:no-reply", 1, "no reply", 0x0218, 0},
        FaultCase{"NoReplyThenRepeat", "1:no-reply", 2, "ok", 192, 1},
        FaultCase{"LateReply", "1:late=900", 1, "no reply", 0x0218, 0},
        FaultCase{"CorruptedChecksum", "1:bad-crc", 1, "checksum error", 0x0318, 0},
        FaultCase{"WrongAddressEcho", "1:wrong-address", 1, "reply does not match the request",
                  0x0618, 0},
        FaultCase{"WrongLength", "1:wrong-length", 1, "reply does not match the request", 0x0618,
                  0},
        // Noise ahead of the start marker is dropped as a frame of its own; the reply counts.
        FaultCase{"JunkBeforeFrame", "1:junk", 1, "ok", 192, 0},
        // The host gathers the pieces into one reply before the driver sees it.
        FaultCase{"SplitReply", "1:split", 1, "ok", 192, 0},
        FaultCase{"PortUnavailable", "1:none", 3, "failed", 0, 2, "/nonexistent/ttyVX0"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(HostEndToEnd, ScanListsEachControllerTheMomentItAnswers) {
    Sim sim({"--demo"});
    Process scan(
        {VEMOX_HOST_PATH, "--device", "COM1=" + sim.Pty(), "scan", "COM1", "--timeout", "60"});
    // After address 3, the 156 silent addresses keep the pass going for about ten seconds.
    ASSERT_TRUE(scan.WaitForText("COM1 address 3: replied in ", kStartMs)) << scan.Output();
    EXPECT_EQ(scan.Output().find("answered"), std::string::npos) << "the pass is not over";
    const Finished run = scan.Wait(kRunMs * 2);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* line : {"COM1 address 1: replied in ", "COM1 address 2: replied in ",
                             "COM1 address 3: replied in ", "3 controllers answered"}) {
        EXPECT_NE(run.out.find(line), std::string::npos) << line << "\n" << run.out;
    }
    EXPECT_EQ(run.out.find("address 4:"), std::string::npos);
    sim.Stop();
}

TEST(HostEndToEnd, UnreachableControllersAreNamed) {
    TempDir dir;
    const std::vector<Node> nodes = {
        {"Hopper", "address = 1"}, {"Ghost", "address = 9"}, {"Tank", "serial = 123456"}};
    const std::vector<Item> items = {{"Hopper", "net", "Вес Нетто", ""},
                                     {"Ghost", "net", "Вес Нетто", ""},
                                     {"Tank", "net", "Вес Нетто", ""}};
    const std::string config = dir.Write("u.toml", ConfigText(200, 2, true, nodes, items));
    Sim sim({"--demo"});
    const Finished partly = Host(config, sim.Pty(), {"read", "--once", "--json"});
    EXPECT_EQ(partly.exitCode, 1);
    EXPECT_NE(partly.err.find("unreachable controller: Ghost (COM1, address 9)"), std::string::npos)
        << partly.err;
    EXPECT_EQ(partly.err.find("Hopper"), std::string::npos);

    const std::string pty = sim.Pty();
    sim.Stop();
    const Finished stopped = Host(config, pty, {"read", "--once"});
    EXPECT_EQ(stopped.exitCode, 1);
    for (const char* node : {"Hopper (COM1, address 1)", "Tank (COM1, serial 123456)"}) {
        EXPECT_NE(stopped.err.find(std::string("unreachable controller: ") + node),
                  std::string::npos)
            << stopped.err;
    }
}

TEST(HostEndToEnd, RunShowsLiveValuesAndStopsCleanlyOnInterruptOrHangUp) {
    TempDir dir;
    const std::string config =
        dir.Write("r.toml", ConfigText(500, 2, true, kDemoNodes,
                                       {{"Belt", "net", "Вес Нетто", ""},
                                        {"Belt", "dosing", "Управление дозированием", ""}}));
    Sim sim({"--demo"});
    for (const int signal : {SIGINT, SIGHUP}) {
        Process host(HostArgs(config, sim.Pty(), {"run"}));
        // Plain lines (the output is a pipe), one per finished read, at the node's scan rate.
        EXPECT_TRUE(host.WaitForText("Belt.dosing: write-only, not read", kRunMs));
        EXPECT_TRUE(host.WaitForText("Belt.net = ", kRunMs));
        EXPECT_TRUE(host.WaitForText("[good] ok; replies 2,", kRunMs)) << host.Output();
        host.Signal(signal);
        const Finished end = host.Wait(kStartMs);
        EXPECT_EQ(end.exitCode, 0) << signal << ": " << end.err;
        EXPECT_NE(end.out.find("stopped"), std::string::npos);
        EXPECT_EQ(end.out.find("Belt.dosing ="), std::string::npos) << "a constant is not polled";
    }
    sim.Stop();
}

// Each command, with the trace watching its line, stopped by Ctrl-C at 20 moments from its
// start to past its first exchanges (the same moments on every run): it ends with a status of
// its own, never a crash or a sanitizer's report.
TEST(HostEndToEnd, StoppedAtAnyMomentWithTraceEveryCommandEndsCleanly) {
    Sim sim({"--demo"});
    const std::vector<std::string> configured = {"-c", VEMOX_DEMO_CONFIG, "--device",
                                                 "COM1=" + sim.Pty()};
    const std::pair<std::vector<std::string>, int> cases[] = {
        // a command, its worst status
        {{"run", "--plain"}, 0},
        {{"read", "--once"}, 1},
        {{"write", "Hopper.point0_high", "2400"}, 1},
        {{"read", sim.Pty(), "--address", "1", "net"}, 1}};
    std::mt19937 moments(21);
    for (const auto& [command, worst] : cases) {
        for (int stop = 0; stop < 20; ++stop) {
            std::vector<std::string> argv = {VEMOX_HOST_PATH, "--trace"};
            if (command[1] != sim.Pty()) {
                argv.insert(argv.end(), configured.begin(), configured.end());
            }
            argv.insert(argv.end(), command.begin(), command.end());
            Process host(argv);
            host.WaitUntilHandling(SIGINT, kStartMs);
            const auto afterMs = moments() % 250;
            ::usleep(static_cast<useconds_t>(afterMs * 1000));
            host.Signal(SIGINT);
            const Finished end = host.Wait(kStartMs);
            const std::string at =
                command[0] + " stopped " + std::to_string(afterMs) + " ms in: " + end.err;
            EXPECT_TRUE(end.exitCode >= 0 && end.exitCode <= worst) << end.exitCode << ", " << at;
            EXPECT_EQ(end.err.find("Sanitizer"), std::string::npos) << at;
            EXPECT_EQ(end.err.find("runtime error:"), std::string::npos) << at;
        }
    }
    sim.Stop();
}

// The driver's figures of a controller's link against the faults the simulator plays, one
// request each (CountTry 2, no pacing): a silent controller (written twice, fails once), a
// checksum error (no repeat once the controller stopped answering), another controller's
// reply (a frame that does not match, then the time-out), a slow reply, and good ones.
TEST(HostEndToEnd, LinkFiguresCountWhatTheLineDid) {
    TempDir dir;
    const std::string config = dir.Write(
        "links.toml",
        ConfigText(300, 2, true, {{"Hopper", "address = 1"}},
                   {{"Hopper", "net", "Вес Нетто", ""},
                    {"Hopper", "gross", "Вес Брутто", ""},
                    {"Hopper", "counter1", "Счетчик", "counter = 1"},
                    {"Hopper", "state0", "Состояние", "bit = 0"},
                    {"Hopper", "input0", "Дискретные входы", "input = 0"},
                    {"Hopper", "replies", "Диагностика связи", "counter = \"Ответов получено\""}},
                   0));
    Sim sim(
        {"--demo", "--fault-script", "1:no-reply,2:no-reply,3:bad-crc,4:wrong-address,5:late=200"});
    const Finished run = Host(config, sim.Pty(), {"read", "--once", "--json"});
    const auto document = nlohmann::json::parse(run.out);
    ASSERT_EQ(document.at("controllers").size(), 1u) << run.out;
    const auto& link = document.at("controllers")[0];
    EXPECT_EQ(link.at("node"), "Hopper");
    EXPECT_TRUE(link.at("link").get<bool>()) << "up again after the last good reply";
    const std::map<std::string, double> counts = {{"no_answer", 2},       {"repeats", 1},
                                                  {"checksum_errors", 1}, {"mismatches", 1},
                                                  {"replies", 2},         {"refused_writes", 0}};
    for (const auto& [figure, count] : counts) {
        EXPECT_EQ(link.at(figure).get<double>(), count) << figure << ": " << link.dump();
    }
    EXPECT_GE(link.at("max_reply_ms").get<double>(), 200) << "the slow reply";
    EXPECT_LE(link.at("min_reply_ms").get<double>(), link.at("max_reply_ms").get<double>());
    EXPECT_DOUBLE_EQ(Items(run).at("Hopper.replies").at("value").get<double>(), 2)
        << "a diagnostic item reads the same figure";
    sim.Stop();
}

// A controller that falls silent for a while: the link figure goes down and comes back up
// by itself once it answers again (CountTry 1, polled again every 500 ms while silent). Some
// 30 ms an exchange: the link has been seen up before the controller falls silent.
TEST(HostEndToEnd, TheLinkFigureGoesDownAndComesBackWithTheController) {
    TempDir dir;
    const std::string config = dir.Write(
        "down.toml",
        ConfigText(200, 1, true, {{"Hopper", "address = 1\nscan_rate = 0"}},
                   {{"Hopper", "net", "Вес Нетто", ""},
                    {"Hopper", "link", "Диагностика связи", "counter = \"link\"\nscan_rate = 1"}},
                   500));
    Sim sim({"--demo", "--fault-script", "200:no-reply,201:no-reply,202:no-reply,203:no-reply"});
    Process host(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    for (const char* state : {"Hopper.link = true", "Hopper.link = false", "Hopper.link = true"}) {
        ASSERT_TRUE(host.WaitForText(state, kRunMs)) << state << "\n" << host.Output();
    }
    host.Signal(SIGINT);
    EXPECT_EQ(host.Wait(kStartMs).exitCode, 0);
    sim.Stop();
}

// Several different requests to one controller at scan rate 0. The reply to exchange 20 comes
// 500 ms after its time-out; the request is repeated, takes that late reply (it cannot be told
// from the repeat's own), and the repeat's own reply must not be taken by the next request.
TEST(HostEndToEnd, ALateReplyAtScanRateZeroShiftsNothing) {
    TempDir dir;
    const std::string config =
        dir.Write("late.toml", ConfigText(1000, 3, true, {{"Hopper", "address = 1\nscan_rate = 0"}},
                                          {{"Hopper", "net", "Вес Нетто", ""},
                                           {"Hopper", "counter1", "Счетчик", "counter = 1"},
                                           {"Hopper", "state0", "Состояние", "bit = 0"}}));
    Sim sim({"--demo", "--fault-script", "20:late=1500"});
    Process host(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    ASSERT_TRUE(host.WaitForText("repeats 1", kRunMs)) << host.Output();
    // Some 12 ms a read: these take well over one WaitTimeout past the late reply.
    for (int read = 0; read < 200; ++read) {
        ASSERT_TRUE(host.WaitForText("] ", kRunMs)) << host.Output();
    }
    host.Signal(SIGINT);
    const Finished end = host.Wait(kStartMs);
    EXPECT_EQ(end.out.find("[bad"), std::string::npos) << end.out;
    sim.Stop();
}

// A device that appears only after the host started, disappears and comes back: the host
// opens it, loses it and opens it again by itself, and says so once each time.
TEST(HostEndToEnd, ADeviceThatComesAndGoesIsOpenedAgainByItself) {
    TempDir dir;
    const std::string link = dir.Write("ttyV0-placeholder", "");
    const std::string device = link.substr(0, link.rfind('/')) + "/ttyV0";
    const std::string config =
        dir.Write("comes.toml", ConfigText(300, 1, true, {{"Belt", "address = 2"}},
                                           {{"Belt", "net", "Вес Нетто", ""}}, 500));
    Process host(HostArgs(config, device, {"run", "--plain"}));
    EXPECT_TRUE(host.WaitForText(device + ": No such file or directory; trying again every 2000 ms",
                                 kStartMs, Stream::Err))
        << host.Errors();
    {
        Sim first({"--demo", "--link", device});
        EXPECT_TRUE(host.WaitForText("COM1: " + device + " opened", kStartMs, Stream::Err))
            << host.Errors();
        EXPECT_TRUE(host.WaitForText("[good]", kStartMs)) << host.Output();
        first.Stop();
    }
    EXPECT_TRUE(host.WaitForText("COM1: " + device + " lost: ", kStartMs, Stream::Err))
        << host.Errors();
    EXPECT_TRUE(host.WaitForText("[bad", kStartMs)) << host.Output();
    Sim second({"--demo", "--link", device});
    // Within one retry period of the device's return, then the driver's own pacing.
    EXPECT_TRUE(host.WaitForText("COM1: " + device + " reopened", kStartMs, Stream::Err))
        << host.Errors();
    EXPECT_TRUE(host.WaitForText("[good]", kStartMs)) << host.Output();
    host.Signal(SIGINT);
    const Finished end = host.Wait(kStartMs);
    EXPECT_EQ(end.exitCode, 0);
    for (const char* change : {" opened", " lost: ", " reopened"}) {
        const std::string notice = "COM1: " + device + change;
        EXPECT_EQ(end.err.find(notice), end.err.rfind(notice)) << "told once: " << notice;
    }
    second.Stop();
}

TEST(HostEndToEnd, ASecondHostOnTheSameDeviceIsToldItIsBusy) {
    TempDir dir;
    const std::string config = dir.Write(
        "two.toml", ConfigText(300, 1, true, kDemoNodes, {{"Belt", "net", "Вес Нетто", ""}}));
    Sim sim({"--demo"});
    Process first(HostArgs(config, sim.Pty(), {"run", "--plain"}));
    ASSERT_TRUE(first.WaitForText("[good]", kRunMs)) << first.Errors();
    const Finished second = Host(config, sim.Pty(), {"read", "--once"});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find(sim.Pty() + ": device busy"), std::string::npos) << second.err;
    EXPECT_TRUE(first.WaitForText("[good]", kRunMs)) << "the first host reads on undisturbed";
    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(kStartMs).exitCode, 0);
    sim.Stop();
}

// The host is killed while requests are on the line; the next host finds the rest of the
// old exchange on it and must not take it for its own replies.
TEST(HostEndToEnd, AHostStartedRightAfterAnotherWasKilledReadsEverythingGood) {
    TempDir dir;
    std::vector<Item> items;
    for (const char* node : {"Hopper", "Belt"}) {
        items.push_back({node, "net", "Вес Нетто", ""});
        items.push_back({node, "outputs", "Дискретные выходы", "output = 0"});
    }
    const std::string busy =
        dir.Write("busy.toml", ConfigText(500, 1, true,
                                          {{"Hopper", "address = 1\nscan_rate = 0"},
                                           {"Belt", "address = 2\nscan_rate = 0"}},
                                          items));
    Sim sim({"--demo"});
    for (int restart = 0; restart < 3; ++restart) {
        Process killed(HostArgs(busy, sim.Pty(), {"run", "--plain"}));
        for (int reads = 0; reads < 20; ++reads) {
            ASSERT_TRUE(killed.WaitForText("[good]", kRunMs)) << killed.Output();
        }
        killed.Signal(SIGKILL);
        killed.Wait(kStartMs);
        const Finished next = Host(VEMOX_DEMO_CONFIG, sim.Pty(), {"read", "--once", "--json"});
        EXPECT_EQ(next.exitCode, 0) << "restart " << restart << "\n" << next.out << next.err;
    }
    sim.Stop();
}

struct RefusedValue {
    std::string item;
    std::string value;
    std::string reason;
};

TEST(HostEndToEnd, OutOfRangeWritesAreRefusedBeforeAnythingIsWritten) {
    TempDir dir;
    const std::string config = dir.Write(
        "range.toml",
        ConfigText(500, 1, true, kDemoNodes,
                   {{"Hopper", "point0_high", "Весовые точки", "point = 0\nlevel = \"upper\""},
                    {"Hopper", "dosing", "Управление дозированием", ""}}));
    // The hopper weighs in hundredths.
    const std::string level = "outside 0 .. 9999.99 (2 decimal places); nothing written";
    const std::string dosing = "outside 0 .. 255 (or true, false); nothing written";
    const RefusedValue cases[] = {{"Hopper.point0_high", "-5", level},
                                  {"Hopper.point0_high", "1e9", level},
                                  {"Hopper.point0_high", "10000", level},
                                  {"Hopper.dosing", "256", dosing},
                                  {"Hopper.dosing", "-1", dosing}};
    Sim sim({"--demo", "-v"});
    for (const RefusedValue& c : cases) {
        const Finished write = Host(config, sim.Pty(), {"write", c.item, c.value});
        EXPECT_EQ(write.exitCode, 2) << c.item << " <- " << c.value;
        EXPECT_NE(write.err.find(c.item + " <- " + c.value + ": " + c.reason), std::string::npos)
            << write.err;
    }
    const Finished simulator = sim.Stop();
    EXPECT_NE(simulator.err.find("Rx 01 C2"), std::string::npos) << "the decimals were read";
    for (const char* write : {"Rx 01 D1", "Rx 01 DF"}) {
        EXPECT_EQ(simulator.err.find(write), std::string::npos) << simulator.err;
    }
}

TEST(HostEndToEnd, CheckSummarisesAGoodFileAndNamesEveryMistakeOfABadOne) {
    TempDir dir;
    const std::string good = dir.Write(
        "good.toml", ConfigText(200, 1, true, kDemoNodes, {{"Belt", "net", "Вес Нетто", ""}}));
    const Finished passed =
        RunToEnd({VEMOX_HOST_PATH, "--device", "COM1=/nonexistent/ttyUSB9", "check", good}, kRunMs);
    EXPECT_EQ(passed.exitCode, 0) << passed.err;
    EXPECT_EQ(passed.out, good + ": good: 1 port, 3 controllers, 1 item, gateways: none\n");
    EXPECT_NE(passed.err.find("warning: COM1: /nonexistent/ttyUSB9 is not present"),
              std::string::npos)
        << passed.err;
    const std::string bad =
        dir.Write("bad.toml", "[driver]\nCountTry = 0\n[[port]]\nname = \"TTY\"\n");
    const Finished refused = RunToEnd({VEMOX_HOST_PATH, "-c", bad, "check"}, kRunMs);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find(bad + ":2: 'CountTry' = 0 is outside 1..255\n" + bad +
                               ":4: port name 'TTY' is not COM1 to COM100"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.out.empty());
}

struct Misuse {
    const char* name;
    std::vector<std::string> args; // after the program; CONFIG and DIR stand for real paths
    std::string complaint;
};

class HostMisuse : public ::testing::TestWithParam<Misuse> {};

TEST_P(HostMisuse, IsRefusedWithExitStatusTwo) {
    TempDir dir;
    const std::string config = dir.Write(
        "ok.toml", ConfigText(200, 1, true, kDemoNodes, {{"Belt", "net", "Вес Нетто", ""}}));
    std::vector<std::string> argv = {VEMOX_HOST_PATH};
    for (const std::string& arg : GetParam().args) {
        argv.push_back(arg == "CONFIG" ? config
                       : arg == "DIR"  ? config.substr(0, config.rfind('/'))
                                       : arg);
    }
    const Finished run = RunToEnd(argv, kRunMs);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find(GetParam().complaint), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("answered"), std::string::npos) << "nothing was scanned";
}

INSTANTIATE_TEST_SUITE_P(
    HostEndToEnd, HostMisuse,
    ::testing::Values(
        Misuse{"MissingFile",
               {"-c", "/nonexistent/plant.toml", "read", "--once"},
               "/nonexistent/plant.toml: No such file or directory"},
        Misuse{"Directory", {"-c", "DIR", "read", "--once"}, "is a directory"},
        Misuse{"EmptyDevice",
               {"-c", "CONFIG", "--device", "COM1=", "read", "--once"},
               "no device given"},
        Misuse{"ScanOfAMissingDevice",
               {"--device", "COM1=/nonexistent/ttyUSB9", "scan", "COM1"},
               "/nonexistent/ttyUSB9: No such file or directory"},
        Misuse{"UnknownOption", {"-c", "CONFIG", "read", "--once", "--colour"}, "--colour"},
        Misuse{"NoCommand", {"-c", "CONFIG"}, "give a command; the commands: run, read"},
        Misuse{"UnknownCommand",
               {"-c", "CONFIG", "bogus"},
               "'bogus' is not a command; the commands: run, read, write, scan, monitor"},
        Misuse{"AmbiguousItem",
               {"-c", VEMOX_DEMO_CONFIG, "write", "output0", "on"},
               "ambiguous item 'output0' (give NODE.ITEM: Hopper.output0, Belt.output0)"},
        Misuse{"ReadWithoutOnce", {"-c", "CONFIG", "read"}, "read: give --once"},
        Misuse{"AdHocWithoutController",
               {"read", "/dev/null", "net"},
               "name the controller: --address N or --serial N"},
        Misuse{"AdHocWithAFile",
               {"-c", "CONFIG", "read", "/dev/null", "--address", "1", "net"},
               "leave out -c"},
        Misuse{"AdHocWithADeviceOverride",
               {"--device", "COM1=/dev/null", "read", "/dev/null", "--address", "1", "net"},
               "leave out --device"},
        Misuse{"AdHocWithOnce",
               {"read", "/dev/null", "--address", "1", "net", "--once"},
               "leave out --once"},
        Misuse{"AdHocReadOfDosing",
               {"read", "/dev/null", "--address", "1", "dosing"},
               "dosing control is only written"},
        Misuse{"AdHocUnknownValue",
               {"read", "/dev/null", "--address", "1", "weight"},
               "'weight' is not something to read or write"},
        Misuse{"AdHocWithoutNumber",
               {"read", "/dev/null", "--address", "1", "counter"},
               "'counter': give counter N"},
        Misuse{"AdHocNumberOutOfRange",
               {"read", "/dev/null", "--address", "1", "point", "9", "upper"},
               "'point' = 9 is outside 0..8"},
        Misuse{"AdHocBothAddressings",
               {"read", "/dev/null", "--address", "1", "--serial", "5", "net"},
               "excludes"},
        Misuse{"AdHocBaudTheSystemCannotSet",
               {"read", "/dev/null", "--address", "1", "net", "--baud", "14400"},
               "baud = 14400 cannot be set"},
        Misuse{"AdHocReadOfAMissingDevice",
               {"read", "/nonexistent/ttyUSB9", "--address", "1", "net"},
               "/nonexistent/ttyUSB9: No such file or directory"},
        Misuse{"ScanAddressOutOfRange",
               {"scan", "/dev/null", "--addresses", "1-200"},
               "address '200' is not a number 1..159"},
        Misuse{"ScanAtAnUnknownRate",
               {"scan", "/dev/null", "--baud", "14400"},
               "14400 baud cannot be set"},
        Misuse{"CheckOfAMissingFile", {"check", "/nonexistent/plant.toml"}, "No such file"},
        Misuse{"MonitorOfAMissingDevice",
               {"monitor", "/nonexistent/ttyUSB9"},
               "/nonexistent/ttyUSB9: No such file or directory"}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace vemox::testing
