#include "host/session/HostServer.h"

#include "platform/Com.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

KibShortString& Short(KibShortString& target, std::u16string_view text) {
    GetShortString(text, target);
    return target;
}

TEST(HostServerTest, SavedSettingsReplaceTheConfiguredOnesAndNewKeysAreKept) {
    SettingsPairs settings = {{u"WaitTimeout", u"3000"}, {u"CountTry", u"3"}};
    HostServer server({}, settings);
    KibShortString key;
    KibShortString value;
    server.SaveConfig(Short(key, u"CountTry"), Short(value, u"5"));
    server.SaveConfig(Short(key, u"CalcCRC"), Short(value, u"0"));
    const SettingsPairs expected = {
        {u"WaitTimeout", u"3000"}, {u"CountTry", u"5"}, {u"CalcCRC", u"0"}};
    EXPECT_EQ(settings, expected);
}

TEST(HostServerTest, LogLinesReachTheSinkAsUtf8AndTheServerAnswersAsBothInterfaces) {
    SettingsPairs settings;
    std::vector<std::string> lines;
    HostServer server([&](const std::string& line) { lines.push_back(line); }, settings);
    KibShortString line;
    server.WriteLog(Short(line, u"COM1 Адрес 5: устройство не доступно"), 1);
    EXPECT_EQ(lines, std::vector<std::string>{"COM1 Адрес 5: устройство не доступно"});

    auto second = platform::QueryAs<IKibOPCServer2>(&server, IID_IKibOPCServer2);
    EXPECT_TRUE(second);
    EXPECT_EQ(server.References(), 1);
    second.reset();
    EXPECT_EQ(server.References(), 0);
    EXPECT_FALSE(platform::QueryAs<IKibItem>(&server, IID_IKibItem));
}

} // namespace
} // namespace vemox::host
