// Recording fakes of the host's server, item and serial-port interfaces. They count every
// reference they hand out and every call they get, so tests can check that the driver
// releases what it takes and calls the host exactly as often as it should.
#pragma once

#include "contract/PluginInterface.h"
#include "platform/Text.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace vemox::testing {

// Reference counting shared by the fakes; the test owns the objects, so reaching 0 is fine.
template <typename Base> class CountedFake : public Base {
public:
    ULONG VX_STDCALL AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG VX_STDCALL Release() override { return static_cast<ULONG>(--refs_); }
    long refs() const { return refs_; }

protected:
    long refs_ = 0;
};

class FakeServer final : public CountedFake<IKibOPCServer2> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibOPCServer2) || SameGuid(riid, IID_IKibOPCServer) ||
            SameGuid(riid, IID_IUnknown_)) {
            if (!offersServer2 && SameGuid(riid, IID_IKibOPCServer2)) {
                return E_NOINTERFACE;
            }
            *object = static_cast<IKibOPCServer2*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    void VX_STDCALL SaveConfig(const KibShortString& key, const KibShortString& value) override {
        saved.emplace_back(platform::Utf16ToUtf8(ShortStringView(key)),
                           platform::Utf16ToUtf8(ShortStringView(value)));
    }
    void VX_STDCALL WriteLog(const KibShortString& line, std::int32_t kind) override {
        log.push_back(platform::Utf16ToUtf8(ShortStringView(line)));
        logKinds.push_back(kind);
    }
    void VX_STDCALL ServerSlot3() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot4() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot5() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot6() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot7() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot8() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot9() override { ++unexpectedCalls; }
    void VX_STDCALL ServerSlot10() override { ++unexpectedCalls; }

    bool offersServer2 = true;
    std::vector<std::pair<std::string, std::string>> saved;
    std::vector<std::string> log;
    std::vector<std::int32_t> logKinds;
    int unexpectedCalls = 0;
};

struct Completion {
    enum Kind { Read, Write } kind;
    std::uint32_t transactId;
    HRESULT result;
};

struct Exchange {
    std::uint32_t answered;
    std::uint32_t retries;
    std::uint8_t first;
};

class FakeItem final : public CountedFake<IKibItem> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibItem) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibItem*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    HRESULT VX_STDCALL AddChild(TItemAttributes attributes, std::int32_t kind, std::int32_t flags,
                                PItemProperties properties, IKibDriver3* driver,
                                IKibItem** child) override {
        if (child) {
            *child = nullptr;
        }
        if (onAddChild) {
            return onAddChild(attributes, kind, flags, properties, driver);
        }
        ++addChildCalls;
        return answer;
    }
    // A host item may call back into the driver as its last reference goes.
    ULONG VX_STDCALL Release() override {
        const ULONG left = CountedFake<IKibItem>::Release();
        if (onRelease) {
            onRelease();
        }
        return left;
    }
    void VX_STDCALL ReadComplete(std::uint32_t transactId, HRESULT result) override {
        completions.push_back({Completion::Read, transactId, result});
        if (onComplete) {
            onComplete();
        }
    }
    void VX_STDCALL WriteComplete(std::uint32_t transactId, HRESULT result) override {
        completions.push_back({Completion::Write, transactId, result});
        if (onComplete) {
            onComplete();
        }
    }
    HRESULT VX_STDCALL UpdateItem(TItemAttributes attributes, PItemProperties properties) override {
        if (onUpdateItem) {
            return onUpdateItem(attributes, properties);
        }
        ++updateCalls;
        return answer;
    }
    void VX_STDCALL ReportExchange(std::uint32_t answered, std::uint32_t retries,
                                   std::uint8_t first) override {
        exchanges.push_back({answered, retries, first});
    }
    void VX_STDCALL ItemSlot6() override { ++unexpectedCalls; }
    void VX_STDCALL ItemSlot7() override { ++unexpectedCalls; }
    void VX_STDCALL ItemSlot8() override { ++unexpectedCalls; }
    void VX_STDCALL ItemSlot9() override { ++unexpectedCalls; }
    void VX_STDCALL ItemSlot10() override { ++unexpectedCalls; }

    // How often the task with this TransactID was completed.
    int CompletionsOf(std::uint32_t transactId) const {
        int n = 0;
        for (const auto& c : completions) {
            n += c.transactId == transactId ? 1 : 0;
        }
        return n;
    }

    HRESULT answer = S_OK;
    int addChildCalls = 0;
    int updateCalls = 0;
    int unexpectedCalls = 0;
    std::vector<Completion> completions;
    std::vector<Exchange> exchanges;
    std::function<void()> onComplete;
    std::function<void()> onRelease;
    std::function<HRESULT(const TItemAttributes&, std::int32_t, std::int32_t, PItemProperties,
                          IKibDriver3*)>
        onAddChild;
    std::function<HRESULT(const TItemAttributes&, PItemProperties)> onUpdateItem;
};

// The invariant of task handling, checked once the driver is done with an item: every task
// it was given completed exactly once (or, when `purged`, not at all), and every reference
// the driver took on the item released. Answers what went wrong, or the empty text.
inline std::string Unsettled(const FakeItem& item, const std::vector<std::uint32_t>& transactIds,
                             bool purged = false) {
    std::string problems;
    for (std::uint32_t id : transactIds) {
        const int expected = purged ? 0 : 1;
        if (item.CompletionsOf(id) != expected) {
            problems += "task " + std::to_string(id) + " completed " +
                        std::to_string(item.CompletionsOf(id)) + " times; ";
        }
    }
    if (item.completions.size() != (purged ? 0u : transactIds.size())) {
        problems += "completions of unknown tasks; ";
    }
    if (item.refs() != 0) {
        problems += "item holds " + std::to_string(item.refs()) + " references; ";
    }
    return problems;
}

struct PortCall {
    enum Kind { Capture, Write, Release, Service } kind;
    TComPortNum port;
    std::vector<std::uint8_t> bytes;
};

class FakeComPort final : public CountedFake<IKibComPort3> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibComPort3) || SameGuid(riid, IID_IKibComPort2) ||
            SameGuid(riid, IID_IKibComPort) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibComPort3*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    std::uint8_t VX_STDCALL WriteData(TComPortNum port, const void* data, std::int32_t size,
                                      IKibReceiveData*) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        calls.push_back({PortCall::Write, port, std::vector<std::uint8_t>(bytes, bytes + size)});
        if (onWrite) {
            onWrite();
        }
        return writeAnswer;
    }
    void VX_STDCALL PortSlot2() override { ++unexpectedCalls; }
    void VX_STDCALL ReleasePort(TComPortNum port, IKibReceiveData*) override {
        calls.push_back({PortCall::Release, port, {}});
    }
    void VX_STDCALL PortSlot4() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot5() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot6() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot7() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot8() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot9() override { ++unexpectedCalls; }
    void VX_STDCALL PortSlot10() override { ++unexpectedCalls; }
    bool VX_STDCALL CapturePort(TComPortNum port, IKibReceiveData*) override {
        calls.push_back({PortCall::Capture, port, {}});
        if (onCapture) {
            onCapture();
        }
        return captureAnswer;
    }
    void VX_STDCALL ServicePort(TComPortNum port, IKibReceiveData*) override {
        calls.push_back({PortCall::Service, port, {}});
    }

    std::vector<std::vector<std::uint8_t>> Writes() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& c : calls) {
            if (c.kind == PortCall::Write) {
                out.push_back(c.bytes);
            }
        }
        return out;
    }

    bool captureAnswer = true;
    std::uint8_t writeAnswer = 0;
    // A host may call back into the driver from inside these calls.
    std::function<void()> onCapture;
    std::function<void()> onWrite;
    int unexpectedCalls = 0;
    std::vector<PortCall> calls;
};

struct Delivery {
    TComPortNum port;
    std::vector<std::uint8_t> bytes;
};

// Stands for the driver's receiving side: records every delivery, one entry per call.
class FakeReceiver final : public CountedFake<IKibReceiveData> {
public:
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override {
        *object = nullptr;
        if (SameGuid(riid, IID_IKibReceiveData) || SameGuid(riid, IID_IUnknown_)) {
            *object = static_cast<IKibReceiveData*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    void VX_STDCALL OnReceiveData(TComPortNum port, const void* data, std::int32_t size) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        received.push_back({port, bytes ? std::vector<std::uint8_t>(bytes, bytes + size)
                                        : std::vector<std::uint8_t>{}});
        if (onReceive) {
            onReceive();
        }
    }
    void VX_STDCALL OnReleasePort(TComPortNum) override { ++unexpectedCalls; }
    bool VX_STDCALL CompleteReceive(TComPortNum, const void*, std::int32_t) override {
        ++unexpectedCalls;
        return false;
    }

    std::vector<Delivery> received;
    std::function<void()> onReceive;
    int unexpectedCalls = 0;
};

} // namespace vemox::testing
