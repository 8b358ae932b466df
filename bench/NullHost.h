// Host interfaces that do nothing but answer, so a benchmark times the driver's own work and
// none of the host's: no recording, no log formatting, no line.
#pragma once

#include "contract/PluginInterface.h"

namespace vemox::bench {

template <typename Base> class Unowned : public Base {
public:
    ULONG VX_STDCALL AddRef() override { return 1; }
    ULONG VX_STDCALL Release() override { return 1; }
};

class NullServer final : public Unowned<IKibOPCServer2> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibOPCServer2) || SameGuid(riid, IID_IKibOPCServer) ||
            SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibOPCServer2*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    void VX_STDCALL SaveConfig(const KibShortString&, const KibShortString&) override {}
    void VX_STDCALL WriteLog(const KibShortString&, std::int32_t) override {}
    void VX_STDCALL ServerSlot3() override {}
    void VX_STDCALL ServerSlot4() override {}
    void VX_STDCALL ServerSlot5() override {}
    void VX_STDCALL ServerSlot6() override {}
    void VX_STDCALL ServerSlot7() override {}
    void VX_STDCALL ServerSlot8() override {}
    void VX_STDCALL ServerSlot9() override {}
    void VX_STDCALL ServerSlot10() override {}
};

// Takes completions and exchange reports without keeping them.
class NullItem final : public Unowned<IKibItem> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibItem) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibItem*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT VX_STDCALL AddChild(TItemAttributes, std::int32_t, std::int32_t, PItemProperties,
                                IKibDriver3*, IKibItem** child) override {
        *child = nullptr;
        return E_NOTIMPL;
    }
    void VX_STDCALL ReadComplete(std::uint32_t, HRESULT) override { ++completions; }
    void VX_STDCALL WriteComplete(std::uint32_t, HRESULT) override { ++completions; }
    HRESULT VX_STDCALL UpdateItem(TItemAttributes, PItemProperties) override { return E_NOTIMPL; }
    void VX_STDCALL ReportExchange(std::uint32_t, std::uint32_t, std::uint8_t) override {}
    void VX_STDCALL ItemSlot6() override {}
    void VX_STDCALL ItemSlot7() override {}
    void VX_STDCALL ItemSlot8() override {}
    void VX_STDCALL ItemSlot9() override {}
    void VX_STDCALL ItemSlot10() override {}

    long completions = 0;
};

// Grants every port, accepts every write, delivers nothing.
class NullComPort final : public Unowned<IKibComPort3> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibComPort3) || SameGuid(riid, IID_IKibComPort2) ||
            SameGuid(riid, IID_IKibComPort) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibComPort3*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    std::uint8_t VX_STDCALL WriteData(TComPortNum, const void*, std::int32_t,
                                      IKibReceiveData*) override {
        ++writes;
        return 0;
    }
    void VX_STDCALL PortSlot2() override {}
    void VX_STDCALL ReleasePort(TComPortNum, IKibReceiveData*) override {}
    void VX_STDCALL PortSlot4() override {}
    void VX_STDCALL PortSlot5() override {}
    void VX_STDCALL PortSlot6() override {}
    void VX_STDCALL PortSlot7() override {}
    void VX_STDCALL PortSlot8() override {}
    void VX_STDCALL PortSlot9() override {}
    void VX_STDCALL PortSlot10() override {}
    bool VX_STDCALL CapturePort(TComPortNum, IKibReceiveData*) override { return true; }
    void VX_STDCALL ServicePort(TComPortNum, IKibReceiveData*) override {}

    long writes = 0;
};

} // namespace vemox::bench
