// The host's server interface (IKibOPCServer2): the driver's log lines go to a sink, and
// the settings pairs it saves replace those of the configuration the host runs with.
#pragma once

#include "contract/PluginInterface.h"
#include "host/config/HostConfig.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vemox::host {

using LogSink = std::function<void(const std::string& line)>;

class HostServer final : public IKibOPCServer2 {
public:
    HostServer(LogSink sink, SettingsPairs& settings)
        : sink_(std::move(sink)), settings_(settings) {}
    HostServer(const HostServer&) = delete;
    HostServer& operator=(const HostServer&) = delete;
    virtual ~HostServer() = default;

    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override;
    ULONG VX_STDCALL AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG VX_STDCALL Release() override { return static_cast<ULONG>(--refs_); }
    long References() const noexcept { return refs_; }

    void VX_STDCALL SaveConfig(const KibShortString& key, const KibShortString& value) override;
    void VX_STDCALL WriteLog(const KibShortString& line, std::int32_t kind) override;
    void VX_STDCALL ServerSlot3() override {}
    void VX_STDCALL ServerSlot4() override {}
    void VX_STDCALL ServerSlot5() override {}
    void VX_STDCALL ServerSlot6() override {}
    void VX_STDCALL ServerSlot7() override {}
    void VX_STDCALL ServerSlot8() override {}
    void VX_STDCALL ServerSlot9() override {}
    void VX_STDCALL ServerSlot10() override {}

private:
    LogSink sink_;
    SettingsPairs& settings_;
    long refs_ = 0;
};

} // namespace vemox::host
