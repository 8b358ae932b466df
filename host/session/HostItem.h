// The host's item object (IKibItem) with the item state it owns. The driver fills the
// state (value, quality, time stamp) and completes each task through this object; the item
// counts completions and exchanges so the host can show them.
#pragma once

#include "contract/PluginInterface.h"

#include <cstdint>
#include <string>

namespace vemox::host {

struct ExchangeCounts {
    std::uint32_t completed = 0; // tasks completed, whatever the outcome
    std::uint32_t failed = 0;    // of those, completed with a failure
    std::uint32_t reads = 0;     // of those, reads: each one leaves a new state to show
    std::uint32_t answered = 0;  // exchanges that brought a reply
    std::uint32_t unanswered = 0;
    std::uint32_t repeats = 0; // extra writes the driver needed
};

class HostItem final : public IKibItem {
public:
    explicit HostItem(std::string name);
    HostItem(const HostItem&) = delete;
    HostItem& operator=(const HostItem&) = delete;
    virtual ~HostItem();

    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override;
    ULONG VX_STDCALL AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG VX_STDCALL Release() override { return static_cast<ULONG>(--refs_); }
    long References() const noexcept { return refs_; }

    // The host builds nodes and items from its configuration file, not from the pages.
    HRESULT VX_STDCALL AddChild(TItemAttributes, std::int32_t, std::int32_t, PItemProperties,
                                IKibDriver3*, IKibItem** child) override;
    void VX_STDCALL ReadComplete(std::uint32_t transactId, HRESULT result) override;
    void VX_STDCALL WriteComplete(std::uint32_t transactId, HRESULT result) override;
    HRESULT VX_STDCALL UpdateItem(TItemAttributes, PItemProperties) override { return E_NOTIMPL; }
    void VX_STDCALL ReportExchange(std::uint32_t answered, std::uint32_t retries,
                                   std::uint8_t first) override;
    void VX_STDCALL ItemSlot6() override {}
    void VX_STDCALL ItemSlot7() override {}
    void VX_STDCALL ItemSlot8() override {}
    void VX_STDCALL ItemSlot9() override {}
    void VX_STDCALL ItemSlot10() override {}

    const std::string& Name() const noexcept { return name_; }
    // What reads fill: the value, quality and time stamp the host shows.
    OPCITEMSTATE& State() noexcept { return state_; }
    const OPCITEMSTATE& State() const noexcept { return state_; }
    // The state as the last read left it. The driver marks a read's state bad while the
    // read is under way; the operator sees the last finished read instead.
    const OPCITEMSTATE& Shown() const noexcept { return shown_; }
    // What a write carries: the value to write in, the write's quality and time out, so
    // a write never passes for a value read from the controller.
    OPCITEMSTATE& WriteState() noexcept { return writeState_; }
    // Where a synchronous task's result would land; the host hands in asynchronous tasks
    // only, but the record always carries a valid slot.
    HRESULT* ResultSlot() noexcept { return &syncResult_; }

    // A task handed to the driver for this item and not yet completed.
    bool Busy() const noexcept { return outstanding_ != 0; }
    std::uint32_t BeginTask();

    bool EverCompleted() const noexcept { return counts_.completed != 0; }
    HRESULT LastResult() const noexcept { return lastResult_; }
    const ExchangeCounts& Counts() const noexcept { return counts_; }

private:
    void Complete(std::uint32_t transactId, HRESULT result);

    std::string name_;
    long refs_ = 0;
    OPCITEMSTATE state_{};
    OPCITEMSTATE writeState_{};
    OPCITEMSTATE shown_{};
    HRESULT syncResult_ = S_OK;
    std::uint32_t nextTransact_ = 1;
    std::uint32_t outstanding_ = 0; // transaction awaited, 0 when none
    HRESULT lastResult_ = S_OK;
    ExchangeCounts counts_;
};

} // namespace vemox::host
