#include "config/Config.h"

#include "contract/Constants.h"
#include "platform/Text.h"
#include "platform/VariantConvert.h"

#include <algorithm>

namespace vemox {
namespace {

constexpr int kLabelLeft = 8;
constexpr int kLabelWidth = 190;
constexpr int kFieldLeft = 202;
constexpr int kFieldWidth = 66;
constexpr int kRowHeight = 21;

platform::Rect FieldRow(int top) {
    return {kFieldLeft, top, kFieldWidth, kRowHeight};
}

// A typed value that never lost the focus is still unclamped; the stored milliseconds must
// stay within the field's range so that they cannot overflow.
std::int32_t RangeValue(const platform::SpinField& field) {
    return std::clamp(field.Value(), field.Minimum(), field.Maximum());
}

std::int32_t SecondsOf(std::int32_t milliseconds) {
    return static_cast<std::int32_t>(platform::RoundHalfEven(milliseconds / 1000.0));
}

void Save(IKibOPCServer* server, std::u16string_view key, std::u16string_view value) {
    if (!server) {
        return; // no host yet: the value stays in effect in the settings
    }
    KibShortString k;
    KibShortString v;
    GetShortString(key, k);
    GetShortString(value, v);
    server->SaveConfig(k, v);
}

} // namespace

TfmConfig::TfmConfig(PageContext& context, const platform::PageWindowFactory& factory)
    : context_(context), window_(factory(kConfigPageWidth, kConfigPageHeight)),
      rxedtWaitTimeout(window_->AddSpinField(FieldRow(12), 1, 999, u"")),
      rxedtCountTry(window_->AddSpinField(FieldRow(48), 1, 100, u"")),
      rxedtTimeNextSend(window_->AddSpinField(FieldRow(84), 1, 999, u"")),
      chbxCalcCRC(window_->AddCheckBox({kLabelLeft, 124, 260, 17}, kLabelCalcCRC)) {
    window_->AddLabel({kLabelLeft, 15, kLabelWidth, 15}, kLabelWaitTimeout);
    window_->AddLabel({kLabelLeft, 51, kLabelWidth, 15}, kLabelCountTry);
    window_->AddLabel({kLabelLeft, 87, kLabelWidth, 15}, kLabelTimeNextSend);
    rxedtWaitTimeout.SetValue(3);
    rxedtCountTry.SetValue(3);
    rxedtTimeNextSend.SetValue(60);
    chbxCalcCRC.SetChecked(true);
    for (platform::TextField* field : {&rxedtWaitTimeout, &rxedtCountTry, &rxedtTimeNextSend}) {
        field->OnChange = [this] { ConfigChange(); };
    }
    chbxCalcCRC.OnClick = [this] { ConfigChange(); };
    window_->OnMessage = [this](std::uint32_t message) { OnMessage(message); };
}

bool TfmConfig::LoadConfig(const KibShortString& name, const KibShortString& value) {
    return ApplySettingsPair(context_.Settings(), name, value);
}

void TfmConfig::Init(WindowHandle parentHandle) {
    FParentHandle = parentHandle;
    FInitial = true;
    try {
        const TDriverSettings& settings = context_.Settings();
        rxedtWaitTimeout.SetValue(SecondsOf(settings.WaitTimeout));
        rxedtCountTry.SetValue(settings.CountTry);
        rxedtTimeNextSend.SetValue(SecondsOf(settings.TimeNextSend));
        chbxCalcCRC.SetChecked(settings.CalcCRC);
    } catch (...) {
        FInitial = false;
        throw;
    }
    FInitial = false;
}

void TfmConfig::ConfigChange() {
    if (!FInitial) {
        window_->Notify(FParentHandle, WM_SETTINGS_CHANGED);
    }
}

void TfmConfig::WMSettingsSave() {
    IKibOPCServer* server = context_.Server();
    TDriverSettings& settings = context_.Settings();
    settings.WaitTimeout = RangeValue(rxedtWaitTimeout) * 1000;
    Save(server, kKeyWaitTimeout, platform::DecimalText(settings.WaitTimeout));
    settings.CountTry = RangeValue(rxedtCountTry);
    Save(server, kKeyCountTry, platform::DecimalText(settings.CountTry));
    settings.TimeNextSend = RangeValue(rxedtTimeNextSend) * 1000;
    Save(server, kKeyTimeNextSend, platform::DecimalText(settings.TimeNextSend));
    settings.CalcCRC = chbxCalcCRC.Checked();
    Save(server, kKeyCalcCRC, settings.CalcCRC ? kTextTrue : kTextFalse);
}

void TfmConfig::WMSettingsReload() {
    Init(FParentHandle);
}

void TfmConfig::WMPageDetach() {
    FParentHandle = nullptr;
    window_->Detach();
}

void TfmConfig::OnMessage(std::uint32_t message) {
    try {
        switch (message) {
        case WM_SETTINGS_SAVE:
            WMSettingsSave();
            break;
        case WM_SETTINGS_RELOAD:
            WMSettingsReload();
            break;
        case WM_PAGE_DETACH:
            WMPageDetach();
            break;
        default:
            break;
        }
    } catch (...) {
        // A failure inside the host's message must not unwind through its message loop.
    }
}

} // namespace vemox
