#include "platform/HeadlessControls.h"

#include <gtest/gtest.h>

namespace vemox::platform {
namespace {

TEST(SpinField, ReadsTheTypedIntegerOrTheMinimumAndClampsOnlyWhenSetOrLeft) {
    HeadlessPage page(100, 100);
    SpinField& spin = page.AddSpinField({0, 0, 10, 10}, 1, 999, u"", nullptr);
    TextField& other = page.AddTextField({0, 0, 10, 10}, u"");
    struct Case {
        std::u16string typed;
        std::int32_t read;
        std::u16string afterLeaving;
    };
    const Case cases[] = {
        {u"42", 42, u"42"}, {u"5000", 5000, u"999"}, {u"0", 0, u"1"},           {u"-7", -7, u"1"},
        {u"", 1, u"1"},     {u"12a", 1, u"1"},       {u"99999999999", 1, u"1"},
    };
    for (const Case& c : cases) {
        spin.SetText(u"");
        spin.SetFocus();
        Type(spin, c.typed);
        EXPECT_EQ(spin.Value(), c.read) << "typed " << c.typed.size() << " units";
        other.SetFocus();
        EXPECT_EQ(spin.Text(), c.afterLeaving);
    }
    spin.SetValue(-3);
    EXPECT_EQ(spin.Text(), u"1");
    spin.SetValue(1LL << 40);
    EXPECT_EQ(spin.Text(), u"999");
}

TEST(HeadlessControls, RadioButtonsOfOneGroupExcludeEachOtherAndPanelsShareTheFront) {
    HeadlessPage page(100, 100);
    ToggleButton& a = page.AddRadioButton({}, u"a", 1);
    ToggleButton& b = page.AddRadioButton({}, u"b", 1);
    ToggleButton& other = page.AddRadioButton({}, u"c", 2);
    ToggleButton& box = page.AddCheckBox({}, u"d");
    int clicks = 0;
    b.OnClick = [&clicks] { ++clicks; };
    a.SetChecked(true);
    other.SetChecked(true);
    Click(b);
    EXPECT_FALSE(a.Checked());
    EXPECT_TRUE(b.Checked());
    EXPECT_TRUE(other.Checked());
    EXPECT_EQ(clicks, 1);
    a.SetChecked(true);
    EXPECT_EQ(clicks, 1) << "the program's choice is no click";
    Click(box);
    Click(box);
    EXPECT_FALSE(box.Checked());

    Panel& first = page.AddPanel({});
    Panel& second = page.AddPanel({});
    first.BringToFront();
    second.BringToFront();
    EXPECT_EQ(page.Front(), &second);
}

} // namespace
} // namespace vemox::platform
