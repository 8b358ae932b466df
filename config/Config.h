// The driver settings page. It owns the application of the settings pairs that the host
// hands back, so that the page and the host always agree on what a pair means.
#pragma once

#include "config/PageContext.h"
#include "contract/PluginInterface.h"
#include "platform/Controls.h"

#include <memory>

namespace vemox {

class TfmConfig {
public:
    explicit TfmConfig(PageContext& context,
                       const platform::PageWindowFactory& factory = platform::CreateSystemPage);
    TfmConfig(const TfmConfig&) = delete;
    TfmConfig& operator=(const TfmConfig&) = delete;

    // Applies one settings pair to the settings the page was given; see ApplySettingsPair.
    bool LoadConfig(const KibShortString& name, const KibShortString& value);

    // Binds the page to the host window and shows the settings.
    void Init(WindowHandle parentHandle);
    void ConfigChange();
    void WMSettingsSave();
    void WMSettingsReload();
    void WMPageDetach();

    platform::PageWindow& Window() noexcept { return *window_; }

private:
    void OnMessage(std::uint32_t message);

    PageContext& context_;
    std::unique_ptr<platform::PageWindow> window_;

public:
    platform::SpinField& rxedtWaitTimeout;
    platform::SpinField& rxedtCountTry;
    platform::SpinField& rxedtTimeNextSend;
    platform::ToggleButton& chbxCalcCRC;

    WindowHandle FParentHandle = nullptr;
    bool FInitial = false;
};

} // namespace vemox
