#include "PageTestSupport.h"
#include "config/Config.h"
#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"

#include <gtest/gtest.h>

namespace vemox {
namespace {

using platform::Click;
using platform::Type;
using testing::FakeServer;
using testing::Headless;
using testing::HostWindow;

using Pair = std::pair<std::string, std::string>;

class SettingsPage : public ::testing::Test {
protected:
    void SetUp() override {
        PortDriver->Initial(&server, nullptr, nullptr, nullptr, nullptr, nullptr);
    }
    void TearDown() override {
        PortDriver->Deinitial();
        DriverSettings = TDriverSettings{};
    }
    std::vector<std::uint32_t> Sent() {
        std::vector<std::uint32_t> out;
        for (const auto& [target, message] : Headless(page.Window()).sent) {
            EXPECT_EQ(target, kHost);
            out.push_back(message);
        }
        return out;
    }

    const WindowHandle kHost = HostWindow(0x5100);
    FakeServer server;
    TfmConfig page{DriverPages(), platform::CreateHeadlessPage};
};

TEST_F(SettingsPage, SavingStoresEachSettingThenHandsItsPairInOrder) {
    page.Init(kHost);
    Headless(page.Window()).Deliver(WM_SETTINGS_SAVE);
    EXPECT_EQ(server.saved, (std::vector<Pair>{{"WaitTimeout", "3000"},
                                               {"CountTry", "3"},
                                               {"TimeNextSend", "60000"},
                                               {"CalcCRC", "-1"}}));

    server.saved.clear();
    page.rxedtWaitTimeout.SetValue(12);
    page.rxedtCountTry.SetValue(7);
    page.rxedtTimeNextSend.SetValue(30);
    page.chbxCalcCRC.SetChecked(false);
    Headless(page.Window()).Deliver(WM_SETTINGS_SAVE);
    EXPECT_EQ(server.saved, (std::vector<Pair>{{"WaitTimeout", "12000"},
                                               {"CountTry", "7"},
                                               {"TimeNextSend", "30000"},
                                               {"CalcCRC", "0"}}));
    EXPECT_EQ(DriverSettings.WaitTimeout, 12000);
    EXPECT_EQ(DriverSettings.CountTry, 7);
    EXPECT_EQ(DriverSettings.TimeNextSend, 30000);
    EXPECT_FALSE(DriverSettings.CalcCRC);
}

TEST_F(SettingsPage, InitShowsStoredMillisecondsAsRoundedClampedSeconds) {
    struct Case {
        TDriverSettings stored;
        std::int32_t wait, tries, next;
    };
    const Case cases[] = {
        {{2500, 3, 60000, true}, 2, 3, 60},
        {{3500, 3, 1500, true}, 4, 3, 2},
        {{0, 0, 1000000, true}, 1, 1, 999},
        {{1200000, 250, 400, false}, 999, 100, 1},
    };
    for (const Case& c : cases) {
        DriverSettings = c.stored;
        page.Init(kHost);
        EXPECT_EQ(page.rxedtWaitTimeout.Value(), c.wait) << c.stored.WaitTimeout;
        EXPECT_EQ(page.rxedtCountTry.Value(), c.tries) << c.stored.CountTry;
        EXPECT_EQ(page.rxedtTimeNextSend.Value(), c.next) << c.stored.TimeNextSend;
        EXPECT_EQ(page.chbxCalcCRC.Checked(), c.stored.CalcCRC);
    }
    EXPECT_TRUE(Sent().empty()) << "filling the page is no edit";
}

TEST_F(SettingsPage, EveryOperatorEditNotifiesTheHostOnce) {
    page.Init(kHost);
    Type(page.rxedtWaitTimeout, u"5");
    Type(page.rxedtCountTry, u"\b4");
    Click(page.chbxCalcCRC);
    EXPECT_EQ(Sent(), std::vector<std::uint32_t>(4, WM_SETTINGS_CHANGED));
    Headless(page.Window()).Deliver(WM_SETTINGS_SAVE);
    EXPECT_EQ(Sent().size(), 4u) << "a save answers nothing";
}

TEST_F(SettingsPage, ReloadDiscardsEditsAndShowsTheStoredValues) {
    DriverSettings = TDriverSettings{7000, 5, 20000, false};
    page.Init(kHost);
    Type(page.rxedtWaitTimeout, u"9");
    Click(page.chbxCalcCRC);
    Headless(page.Window()).Deliver(WM_SETTINGS_RELOAD);
    EXPECT_EQ(page.rxedtWaitTimeout.Text(), u"7");
    EXPECT_FALSE(page.chbxCalcCRC.Checked());
    EXPECT_EQ(DriverSettings.WaitTimeout, 7000) << "a reload stores nothing";
}

TEST_F(SettingsPage, ATypedValueIsClampedOnLeavingAndNeverStoredBeyondTheRange) {
    page.Init(kHost);
    page.rxedtCountTry.SetText(u"");
    Type(page.rxedtCountTry, u"500");
    EXPECT_EQ(page.rxedtCountTry.Value(), 500) << "reading does not clamp";
    page.rxedtWaitTimeout.SetFocus();
    EXPECT_EQ(page.rxedtCountTry.Text(), u"100");

    // A value typed into the field that still has the focus: without the range its
    // milliseconds would overflow.
    page.rxedtWaitTimeout.SetText(u"");
    Type(page.rxedtWaitTimeout, u"2147483");
    Headless(page.Window()).Deliver(WM_SETTINGS_SAVE);
    EXPECT_EQ(DriverSettings.WaitTimeout, 999000);
    EXPECT_EQ(server.saved.front(), (Pair{"WaitTimeout", "999000"}));
}

TEST_F(SettingsPage, SavingBeforeTheHostIsKnownStillStoresTheValues) {
    PortDriver->Deinitial();
    page.Init(kHost);
    page.rxedtCountTry.SetValue(9);
    Headless(page.Window()).Deliver(WM_SETTINGS_SAVE);
    EXPECT_EQ(DriverSettings.CountTry, 9);
    EXPECT_TRUE(server.saved.empty());
}

TEST_F(SettingsPage, ConfigCreateEmbedsTheOnePageAgainAfterEveryDetach) {
    if (!testing::SystemPagesAreHeadless()) {
        GTEST_SKIP() << "real windows: the Windows page tests drive the driver's pages";
    }
    WindowHandle child = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    ASSERT_TRUE(PortDriver->ConfigCreate(kHost, &child, &width, &height));
    platform::PageWindow& window = fmConfig->Window();
    EXPECT_EQ(child, window.Handle());
    EXPECT_EQ(width, 280);
    EXPECT_EQ(height, 171);
    EXPECT_EQ(window.Parent(), kHost);
    EXPECT_TRUE(window.Visible());
    EXPECT_EQ(fmConfig->FParentHandle, kHost);

    WindowHandle again = nullptr;
    ASSERT_TRUE(PortDriver->ConfigCreate(HostWindow(0x5200), &again, &width, &height));
    EXPECT_EQ(again, child);

    Headless(window).Deliver(WM_PAGE_DETACH);
    EXPECT_FALSE(window.Visible());
    EXPECT_EQ(window.Parent(), nullptr);
    EXPECT_EQ(fmConfig->FParentHandle, nullptr);

    ASSERT_TRUE(PortDriver->ConfigCreate(kHost, &again, &width, &height));
    EXPECT_EQ(window.Parent(), kHost);
    Headless(window).Deliver(WM_PAGE_DETACH);
}

} // namespace
} // namespace vemox
