#include "host/config/HostConfig.h"

#include "contract/Constants.h"
#include "host/config/ModbusMap.h"

#include <gtest/gtest.h>

#include <string>

namespace vemox::host {
namespace {

const std::string kPortAndNode = R"(
[[port]]
name = "COM2"
device = "/dev/pts/9"
baud = 19200
parity = "even"
stop_bits = 2

[[node]]
name = "Scale"
port = "COM2"
address = 5
scan_rate = 2
)";

TEST(HostConfigTest, ReadsEveryPart) {
    const HostConfig config = ParseHostConfig(R"(
[driver]
WaitTimeout = 1500
CountTry = 2
CalcCRC = false

[host]
reopen_ms = 750
)" + kPortAndNode + R"(
[[node]]
name = "Silo"
port = "COM2"
serial = 999999

[[item]]
node = "Scale"
name = "net"
operation = "Вес Нетто"

[[item]]
node = "Silo"
name = "upper"
operation = "Весовые точки"
point = 8
level = "upper"
scan_rate = 5
)",
                                              "plant.toml");
    // Every setting is handed to the driver, in the order its settings page saves them.
    const SettingsPairs expected = {{kKeyWaitTimeout, u"1500"},
                                    {kKeyCountTry, u"2"},
                                    {kKeyTimeNextSend, u"60000"},
                                    {kKeyCalcCRC, kTextFalse}};
    EXPECT_EQ(config.driverSettings, expected);
    EXPECT_FALSE(config.ChecksumOn());
    EXPECT_EQ(config.timing.reopenMs, 750);
    ASSERT_EQ(config.ports.size(), 1u);
    EXPECT_EQ(config.ports[0].number, 1);
    EXPECT_EQ(config.ports[0].device, "/dev/pts/9");
    EXPECT_EQ(config.ports[0].line.baud, 19200u);
    EXPECT_EQ(config.ports[0].line.parity, 'E');
    EXPECT_EQ(config.ports[0].line.stopBits, 2);
    ASSERT_EQ(config.nodes.size(), 2u);
    EXPECT_TRUE(config.nodes[0].useAddress);
    EXPECT_EQ(config.nodes[0].address, 5);
    EXPECT_EQ(config.nodes[0].scanSeconds, 2);
    EXPECT_FALSE(config.nodes[1].useAddress);
    EXPECT_EQ(config.nodes[1].serial, 999999u);
    ASSERT_EQ(config.items.size(), 2u);
    EXPECT_EQ(config.items[0].operation->operation, Operation::NetWeight);
    EXPECT_FALSE(config.items[0].scanSeconds.has_value());
    EXPECT_EQ(config.items[1].FullName(), "Silo.upper");
    EXPECT_EQ(config.items[1].parameter, 8);
    EXPECT_EQ(config.items[1].level, 1);
    EXPECT_EQ(config.items[1].scanSeconds, 5);
}

// An input and an output of the scale, and an [mqtt] section: its url on line 26, then `keys`.
std::string WithMqtt(const std::string& keys, const std::string& url = "mqtt://broker") {
    return kPortAndNode + R"(
[[item]]
node = "Scale"
name = "in"
operation = "Дискретные входы"
input = 1
[[item]]
node = "Scale"
name = "out"
operation = "Дискретные выходы"
output = 1
[mqtt]
url = ")" + url +
           "\"\n" + keys;
}

// The scale's input and output, `items`, then a [modbus] section with `keys`.
std::string WithModbus(const std::string& keys, const std::string& items = "") {
    return WithMqtt("").substr(0, WithMqtt("").find("[mqtt]")) + items + "[modbus]\n" + keys;
}

TEST(HostConfigTest, MapsItemsToModbusTablesAndUnits) {
    const std::string items = R"([[node]]
name = "Silo"
port = "COM2"
serial = 42
decimals = 2
[[item]]
node = "Silo"
name = "net"
operation = "Вес Нетто"
[[item]]
node = "Silo"
name = "low"
operation = "Весовые точки"
point = 1
level = "lower"
[[item]]
node = "Silo"
name = "gross"
operation = "Вес Брутто"
modbus = 2
[[item]]
node = "Silo"
name = "reset"
operation = "Диагностика связи"
counter = "reset"
)";
    const HostConfig config = ParseHostConfig(
        WithModbus("format = \"int32\"\nwritable = [\"Scale.out\", \"Silo.low\", \"Silo.reset\"]\n",
                   items),
        "plant.toml");
    ASSERT_TRUE(config.modbus);
    EXPECT_EQ(config.modbus->listen, "127.0.0.1:1502") << "loopback unless written";
    EXPECT_EQ(config.modbus->unitIds, (std::vector<int>{5, 1})) << "serial: the lowest free id";
    struct Expected {
        ModbusTable table;
        int address;
        ModbusType type;
        int decimals;
    };
    const Expected expected[] = {
        {ModbusTable::DiscreteInputs, 0, ModbusType::Bool, 0},
        {ModbusTable::Coils, 0, ModbusType::Bool, 0},
        {ModbusTable::InputRegisters, 0, ModbusType::Int32, 2},
        {ModbusTable::HoldingRegisters, 0, ModbusType::Int32, 2}, // writable level
        {ModbusTable::InputRegisters, 2, ModbusType::Int32, 2},   // its own, then around it
        {ModbusTable::Coils, 0, ModbusType::Bool, 0},             // the counters' reset
    };
    const std::vector<ModbusEntry> map = BuildModbusMap(config);
    ASSERT_EQ(map.size(), std::size(expected));
    for (std::size_t i = 0; i < map.size(); ++i) {
        SCOPED_TRACE(config.items[i].FullName());
        EXPECT_EQ(map[i].table, expected[i].table);
        EXPECT_EQ(map[i].address, expected[i].address);
        EXPECT_EQ(map[i].type, expected[i].type);
        EXPECT_EQ(map[i].decimals, expected[i].decimals);
    }
}

TEST(HostConfigTest, ReadsTheMqttSectionWithWritesClosedByDefault) {
    EXPECT_FALSE(ParseHostConfig(kPortAndNode, "plant.toml").mqtt) << "no section, no broker";
    const auto plain = ParseHostConfig(WithMqtt(""), "plant.toml").mqtt;
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host + ":" + std::to_string(plain->port), "broker:1883");
    EXPECT_FALSE(plain->tls);
    EXPECT_TRUE(plain->writable.empty());

    const auto tls = ParseHostConfig(WithMqtt("writable = [\"Scale.out\", \"Scale.out\"]\n",
                                              "mqtts://[::1]:8884"),
                                     "plant.toml")
                         .mqtt;
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->host + ":" + std::to_string(tls->port), "::1:8884");
    EXPECT_TRUE(tls->tls);
    EXPECT_EQ(tls->writable, std::vector<std::string>{"Scale.out"});
    EXPECT_EQ(ParseHostConfig(WithMqtt("", "mqtts://broker"), "plant.toml").mqtt->port, 8883);
}

TEST(HostConfigTest, PortNamesMapToTheDriversNumbers) {
    EXPECT_EQ(PortNumberOfName("COM1"), 0);
    EXPECT_EQ(PortNumberOfName("COM100"), 99);
    EXPECT_EQ(PortNumberOfName("COM0"), -1);
    EXPECT_EQ(PortNumberOfName("COM101"), -1);
    EXPECT_EQ(PortNumberOfName("com1"), -1);
    EXPECT_EQ(PortNumberOfName("COM1x"), -1);
}

struct BadConfig {
    const char* name;
    std::string text;
    std::string expected; // part of the message, with the line it points at
};

class BadConfigTest : public ::testing::TestWithParam<BadConfig> {};

TEST_P(BadConfigTest, IsRefusedWithFileLineAndReason) {
    try {
        ParseHostConfig(GetParam().text, "bad.toml");
        FAIL() << "accepted";
    } catch (const ConfigError& error) {
        EXPECT_NE(std::string(error.what()).find(GetParam().expected), std::string::npos)
            << error.what();
    }
}

// kPortAndNode spans lines 2 to 13; what follows it starts at line 14.
INSTANTIATE_TEST_SUITE_P(
    Refused, BadConfigTest,
    ::testing::Values(
        BadConfig{"Syntax", "[driver\nWaitTimeout = 1", "bad.toml:1:"},
        // Every mistake at once, and a faulty port still known to its nodes.
        BadConfig{"EveryMistake",
                  "[driver]\nCountTry = 0\n[[port]]\nname = \"COM1\"\nparity = \"mark\"\n[[node]]\n"
                  "name = \"S\"\nport = \"COM1\"\naddress = 999\n[mqtt]\nqos = 2\n",
                  "bad.toml:2: 'CountTry' = 0 is outside 1..255\nbad.toml:5: parity must be "
                  "\"none\", \"even\" or \"odd\", not \"mark\"\nbad.toml:9: 'address' = 999 is "
                  "outside 1..159\nbad.toml:10: [mqtt] needs 'url'"},
        BadConfig{"UnknownKey", "[driver]\nWaitTimout = 100\n",
                  "bad.toml:2: unknown key 'WaitTimout'"},
        BadConfig{"SettingNotANumber", "[driver]\nCountTry = \"3\"\n",
                  "bad.toml:2: 'CountTry' must be a whole number"},
        BadConfig{"FloatBeyondAnyInteger", "[driver]\nTimeNextSend = 1e200\n",
                  "bad.toml:2: 'TimeNextSend' must be a whole number"},
        BadConfig{"CrcNotBoolean", "[driver]\nCalcCRC = 1\n",
                  "bad.toml:2: 'CalcCRC' must be true or false"},
        BadConfig{"BadPortName", "[[port]]\nname = \"TTY1\"\n", "bad.toml:2: port name 'TTY1'"},
        BadConfig{"BadParity", "[[port]]\nname = \"COM1\"\nparity = \"mark\"\n",
                  "bad.toml:3: parity"},
        BadConfig{"EmptyDevice", "[[port]]\nname = \"COM1\"\ndevice = \"\"\n",
                  "bad.toml:3: 'device' is empty"},
        BadConfig{"BaudTheBackendCannotSet", "[[port]]\nname = \"COM1\"\nbaud = 12345\n",
                  "bad.toml:3: baud = 12345 cannot be set"},
        BadConfig{"ReopenTooOften", "[host]\nreopen_ms = 0\n",
                  "bad.toml:2: 'reopen_ms' = 0 is outside"},
        BadConfig{"PortTwice", "[[port]]\nname = \"COM1\"\n[[port]]\nname = \"COM1\"\n",
                  "bad.toml:4: port COM1 is defined twice"},
        BadConfig{"NodeOnUnknownPort",
                  kPortAndNode + "[[node]]\nname = \"B\"\nport = \"COM3\"\naddress = 1\n",
                  "bad.toml:16: node 'B' names port 'COM3'"},
        BadConfig{"AddressOutOfRange",
                  kPortAndNode + "[[node]]\nname = \"B\"\nport = \"COM2\"\naddress = 160\n",
                  "bad.toml:17: 'address' = 160 is outside 1..159"},
        BadConfig{"AddressAndSerial",
                  kPortAndNode +
                      "[[node]]\nname = \"B\"\nport = \"COM2\"\naddress = 1\nserial = 5\n",
                  "needs exactly one of 'address'"},
        BadConfig{"ItemOfUnknownNode",
                  kPortAndNode +
                      "[[item]]\nnode = \"X\"\nname = \"a\"\noperation = \"Вес Нетто\"\n",
                  "bad.toml:15: item 'a' names node 'X'"},
        BadConfig{"UnknownOperation",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Вес\"\n",
                  "bad.toml:17: unknown operation \"Вес\""},
        BadConfig{"MissingParameter",
                  kPortAndNode +
                      "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Счетчик\"\n",
                  "item 'Scale.a' needs 'counter' (0..9)"},
        BadConfig{"ParameterOutOfRange",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = "
                                 "\"Дискретные входы\"\ninput = 16\n",
                  "bad.toml:18: 'input' = 16 is outside 0..15"},
        BadConfig{
            "ParameterOfAnotherOperation",
            kPortAndNode +
                "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Вес Нетто\"\nbit = 1\n",
            "bad.toml:18: 'bit' does not belong"},
        BadConfig{"UnknownLinkFigure",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = "
                                 "\"Диагностика связи\"\ncounter = \"replys\"\n",
                  "bad.toml:18: item 'Scale.a' needs counter = one of link, replies,"},
        BadConfig{"LinkFigureByNumber",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = "
                                 "\"Диагностика связи\"\ncounter = 2\n",
                  "bad.toml:18: 'counter' must be a text in quotes"},
        BadConfig{"WeightPointWithoutLevel",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Весовые "
                                 "точки\"\npoint = 1\n",
                  "needs level = \"lower\" or \"upper\""},
        BadConfig{"MqttScheme", WithMqtt("", "http://broker"),
                  "bad.toml:26: url 'http://broker': must begin with mqtt:// or mqtts://"},
        BadConfig{"MqttPort", WithMqtt("", "mqtt://broker:70000"),
                  "the port must be a number 1..65535"},
        BadConfig{"MqttNoHost", WithMqtt("", "mqtt://:1883"), "names no broker host"},
        BadConfig{"MqttUnknownKey", WithMqtt("password = \"x\"\n"),
                  "bad.toml:27: unknown key 'password' in [mqtt]"},
        BadConfig{"MqttQos", WithMqtt("qos = 2\n"), "bad.toml:27: 'qos' = 2 is outside 0..1"},
        BadConfig{"MqttTlsFileWithoutTls", WithMqtt("ca_file = \"/etc/ca.pem\"\n"),
                  "bad.toml:27: 'ca_file' needs an mqtts:// url"},
        BadConfig{"MqttCertificateWithoutKey",
                  WithMqtt("cert_file = \"c.pem\"\n", "mqtts://broker"),
                  "'cert_file' and 'key_file' go together"},
        BadConfig{"MqttPasswordWithoutUser", WithMqtt("password_file = \"/etc/pw\"\n"),
                  "'password_file' needs 'username'"},
        BadConfig{"MqttPrefixWildcard", WithMqtt("topic_prefix = \"plant/#\"\n"),
                  "topic_prefix 'plant/#': '#' cannot stand in a topic level"},
        BadConfig{"MqttWritableUnknown", WithMqtt("writable = [\"Scale.ghost\"]\n"),
                  "bad.toml:27: 'writable' names 'Scale.ghost', which no [[item]] section "
                  "defines"},
        BadConfig{"MqttWritableReadOnly", WithMqtt("writable = [\"Scale.in\"]\n"),
                  "'writable' names 'Scale.in', which cannot be written"},
        BadConfig{"MqttItemNameNoTopic",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"net+\"\noperation = "
                                 "\"Вес Нетто\"\n[mqtt]\nurl = \"mqtt://broker\"\n",
                  "item 'Scale.net+' cannot be published: '+' cannot stand in a topic level"},
        BadConfig{"ModbusListen", WithModbus("listen = \"::1:502\"\n"),
                  "bad.toml:26: listen '::1:502': write an IPv6 address in brackets"},
        BadConfig{"ModbusWordOrder", WithModbus("word_order = \"middle\"\n"),
                  "bad.toml:26: word_order must be \"big\" or \"little\", not \"middle\""},
        BadConfig{"ModbusWritableReadOnly", WithModbus("writable = [\"Scale.in\"]\n"),
                  "'writable' names 'Scale.in', which cannot be written"},
        BadConfig{"ModbusUnitTwice",
                  kPortAndNode + "[[node]]\nname = \"B\"\nport = \"COM2\"\naddress = 5\n[modbus]\n",
                  "bad.toml:14: node 'B' takes Modbus unit 5, which another node has"},
        BadConfig{"ModbusAddressTwice",
                  kPortAndNode + "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Вес "
                                 "Нетто\"\nmodbus = 0\n[[item]]\nnode = \"Scale\"\nname = "
                                 "\"b\"\noperation = \"Вес Брутто\"\nmodbus = 1\n[modbus]\n",
                  "bad.toml:23: modbus = 1: 'Scale.b' and 'Scale.a' share input registers of "
                  "unit 5"},
        BadConfig{
            "ItemTwice",
            kPortAndNode +
                "[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Вес "
                "Нетто\"\n[[item]]\nnode = \"Scale\"\nname = \"a\"\noperation = \"Вес Брутто\"\n",
            "bad.toml:20: item 'Scale.a' is defined twice"}),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
} // namespace vemox::host
