// Describing a line in text: controller options, fault options, the TOML file and the demo.
#include "sim/LineOptions.h"

#include <cstdio>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace vemox::sim {
namespace {

using ::testing::HasSubstr;

TEST(SimLineOptions, ControllerKeys) {
    const auto c = ParseController("addr=5,serial=123456,decimals=2,net=-150,tare=0x10,from=-5,"
                                   "to=900,period-ms=20000,inputs=0x8001,outputs=3,output-bytes=1,"
                                   "state=0x40,dosing=1,counter9=9999999999,point8=100:200");
    EXPECT_EQ(c.address, 5);
    EXPECT_EQ(c.serial, 123456u);
    EXPECT_EQ(c.decimals, 2);
    EXPECT_EQ(c.net, -150);
    EXPECT_EQ(c.tare, 16);
    EXPECT_EQ(c.motion.from, -5);
    EXPECT_EQ(c.motion.to, 900);
    EXPECT_EQ(c.motion.periodMs, 20000u);
    EXPECT_EQ(c.inputs, 0x8001);
    EXPECT_EQ(c.outputs, 3);
    EXPECT_EQ(c.outputBytes, 1);
    EXPECT_EQ(c.state, 0x40);
    EXPECT_EQ(c.dosing, 1);
    EXPECT_EQ(c.counters[9], 9999999999ULL);
    EXPECT_EQ(c.points[8].low, 100u);
    EXPECT_EQ(c.points[8].high, 200u);
}

TEST(SimLineOptions, SerialNumberDefaultsToTheAddress) {
    EXPECT_EQ(ParseController("addr=17").serial, 17u);
    EXPECT_EQ(ParseController("serial=0,addr=17").serial, 0u);
    SimConfig config;
    config.line.controllers = {ParseController("addr=5"), ParseController("addr=6")};
    EXPECT_NO_THROW(CheckConfig(config));
}

TEST(SimLineOptions, BadControllerTextSaysWhatIsWrong) {
    struct Case {
        const char* text;
        const char* complaint;
    };
    for (const auto& c :
         {Case{"addr=0", "outside 1..159"}, Case{"addr=160", "outside"},
          Case{"serial=1000000", "outside 0..999999"}, Case{"addr=5x", "not a number"},
          Case{"addr=", "not KEY=VALUE"}, Case{"colour=red", "unknown controller key"},
          Case{"counter10=1", "unknown controller key"},
          Case{"point9=1:2", "unknown controller key"}, Case{"point1=5", "LOW:HIGH"},
          Case{"point1=1:1000000", "outside"}, Case{"decimals=8", "outside 0..7"},
          Case{"output-bytes=3", "outside 1..2"}, Case{"net=1000000", "outside"},
          Case{"net=-", "not a number"}, Case{"counter0=99999999999999999999", "not a number"}}) {
        try {
            ParseController(c.text);
            ADD_FAILURE() << c.text << " was accepted";
        } catch (const LineError& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.complaint)) << c.text;
        }
    }
}

TEST(SimLineOptions, FaultRatesAndScript) {
    const auto rates = ParseFaultRates("no-reply=0.05,bad-crc=0.5");
    ASSERT_EQ(rates.size(), 2u);
    EXPECT_DOUBLE_EQ(rates.at(FaultKind::NoReply), 0.05);
    EXPECT_DOUBLE_EQ(rates.at(FaultKind::BadChecksum), 0.5);

    const auto script = ParseFaultScript("3:no-reply,7:late=300,9:split=3,12:junk");
    ASSERT_EQ(script.size(), 4u);
    EXPECT_EQ(script.at(3).kind, FaultKind::NoReply);
    EXPECT_EQ(script.at(7).kind, FaultKind::Late);
    EXPECT_EQ(script.at(7).param, 300u);
    EXPECT_EQ(script.at(9).param, 3u);
    EXPECT_EQ(script.at(12).kind, FaultKind::Junk);
    EXPECT_EQ(script.at(12).param, 0u);

    EXPECT_THROW(ParseFaultRates("no-reply=1.5"), LineError);
    EXPECT_THROW(ParseFaultRates("no-reply=abc"), LineError);
    EXPECT_THROW(ParseFaultRates("gremlins=0.1"), LineError);
    EXPECT_THROW(ParseFaultScript("0:no-reply"), LineError);
    EXPECT_THROW(ParseFaultScript("3"), LineError);
    EXPECT_THROW(ParseFaultScript("3:late=0"), LineError);
}

class SimLineFile : public ::testing::Test {
protected:
    void TearDown() override { std::remove(path_.c_str()); }

    SimConfig Load(const std::string& text) {
        std::ofstream(path_) << text;
        SimConfig config;
        LoadLineFile(path_, config);
        return config;
    }

    std::string Complaint(const std::string& text) {
        try {
            Load(text);
        } catch (const LineError& e) {
            return e.what();
        }
        return "accepted";
    }

    std::string path_ = ::testing::TempDir() + "line-" + std::to_string(getpid()) + ".toml";
};

TEST_F(SimLineFile, ReadsLineFaultsAndControllers) {
    const auto config = Load(R"(
checksum = false
echo = true
baud = 19200
turnaround-ms = 4

[faults]
seed = 99
rates = { no-reply = 0.25, junk = 0.125 }
script = ["2:wrong-address", "5:late=700"]
late-ms = 250
split-pieces = 3
split-gap-ms = 15
junk-bytes = 6

[[controller]]
address = 5
serial = 123456
decimals = 2
point3 = [100, 200]
counter1 = 12345

[[controller]]
addr = 6
output-bytes = 1
)");
    EXPECT_FALSE(config.line.checksum);
    EXPECT_TRUE(config.line.echo);
    EXPECT_EQ(config.timing.baud, 19200u);
    EXPECT_EQ(config.timing.turnaround, std::chrono::milliseconds(4));
    EXPECT_EQ(config.faults.seed, 99u);
    EXPECT_DOUBLE_EQ(config.faults.rates.at(FaultKind::NoReply), 0.25);
    EXPECT_DOUBLE_EQ(config.faults.rates.at(FaultKind::Junk), 0.125);
    EXPECT_EQ(config.faults.script.at(2).kind, FaultKind::WrongAddress);
    EXPECT_EQ(config.faults.script.at(5).param, 700u);
    EXPECT_EQ(config.faults.settings.lateMs, 250u);
    EXPECT_EQ(config.faults.settings.splitPieces, 3u);
    EXPECT_EQ(config.faults.settings.splitGapMs, 15u);
    EXPECT_EQ(config.faults.settings.junkBytes, 6u);
    ASSERT_EQ(config.line.controllers.size(), 2u);
    EXPECT_EQ(config.line.controllers[0].points[3].high, 200u);
    EXPECT_EQ(config.line.controllers[0].counters[1], 12345u);
    EXPECT_EQ(config.line.controllers[1].address, 6);
    EXPECT_EQ(config.line.controllers[1].serial, 6u);
    EXPECT_EQ(config.line.controllers[1].outputBytes, 1);
    EXPECT_NO_THROW(CheckConfig(config));
}

TEST_F(SimLineFile, ComplaintsNameTheLine) {
    EXPECT_THAT(Complaint("checksum = true\nbaud = -1\n"), HasSubstr(":2: baud"));
    EXPECT_THAT(Complaint("colour = 1\n"), HasSubstr(":1: unknown key 'colour'"));
    EXPECT_THAT(Complaint("checksum = 1\n"), HasSubstr(":1: checksum"));
    EXPECT_THAT(Complaint("echo = \"yes\"\n"), HasSubstr(":1: echo"));
    EXPECT_THAT(Complaint("[[controller]]\naddress = 5\nserial = 1000000\n"),
                HasSubstr(":3: controller key serial"));
    EXPECT_THAT(Complaint("[[controller]]\npoint1 = [1]\n"), HasSubstr(":2: point1"));
    EXPECT_THAT(Complaint("[faults]\nrates = { no-reply = 2.0 }\n"), HasSubstr(":2:"));
    EXPECT_THAT(Complaint("[faults]\nscript = [\"x:late\"]\n"), HasSubstr(":2:"));
    EXPECT_THAT(Complaint("[faults]\nsplit-pieces = 1\n"), HasSubstr(":2: split-pieces"));
    EXPECT_THAT(Complaint("baud = \n"), HasSubstr(":1:"));
    EXPECT_THAT(Complaint("controller = 5\n"), HasSubstr(":1: controller"));
}

TEST(SimLineOptions, ExampleFileIsPlayable) {
    SimConfig config;
    LoadLineFile(VEMOX_SIM_EXAMPLE, config);
    EXPECT_NO_THROW(CheckConfig(config));
    EXPECT_EQ(config.line.controllers.size(), 2u);
    EXPECT_EQ(config.faults.script.size(), 5u);
}

TEST(SimLineOptions, DemoLineIsPlayableAndMoves) {
    SimConfig config;
    config.line.controllers = DemoControllers();
    ASSERT_EQ(config.line.controllers.size(), 3u);
    EXPECT_NO_THROW(CheckConfig(config));
    EXPECT_EQ(config.line.controllers[2].serial, 123456u);
    for (const auto& c : config.line.controllers) {
        const Controller ctl(c);
        EXPECT_NE(ctl.NetAt(std::chrono::seconds(1)), ctl.NetAt(std::chrono::seconds(3)))
            << "controller " << c.address;
    }
}

} // namespace
} // namespace vemox::sim
