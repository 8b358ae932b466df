// The host's serial-port service as the driver sees it (IKibComPort3): ports granted one
// request at a time, writes that say when they fail, and received bytes gathered into
// whole replies. Replies are not handed to the driver from inside ServicePort, which runs
// within the driver's own Execute: calls into the driver must not overlap, so they wait in
// a queue until the host calls DeliverReplies between two driver calls. Between driver calls
// the host also waits on the granted lines itself (WaitForInput, Gather), so that a reply is
// delivered as soon as it is complete rather than at the driver's next Execute. Before a
// request is written, whatever the port still holds from earlier is dropped.
#pragma once

#include "contract/PluginInterface.h"
#include "host/line/HostClock.h"
#include "host/line/LineObserver.h"
#include "host/line/ReplyAssembler.h"
#include "host/line/SerialLine.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vemox::host {

struct PortStatistics {
    std::int64_t lastWriteMs = -1;
    std::int64_t lastReplyMs = -1;
    std::uint32_t writes = 0;
    std::uint32_t refusedWrites = 0;
    std::uint32_t replies = 0;
};

class ComPortService final : public IKibComPort3 {
public:
    ComPortService(const HostClock& clock, std::int64_t gapMs) : clock_(clock), gapMs_(gapMs) {}
    ComPortService(const ComPortService&) = delete;
    ComPortService& operator=(const ComPortService&) = delete;
    virtual ~ComPortService() = default;

    // Puts an open line behind a port number (0 is COM1).
    void Attach(TComPortNum port, std::unique_ptr<SerialLine> line);

    // Hands every reply gathered so far to the receiver it was gathered for, one reply per
    // OnReceiveData call; answers how many were delivered.
    int DeliverReplies();
    // Reads what the granted lines have brought and queues the replies it completes for
    // the holders, as ServicePort does; answers whether any reply now waits for delivery.
    bool Gather();
    // Waits for bytes on a granted line, at most `timeoutMs` (see WaitForInput).
    void WaitForInput(std::int64_t timeoutMs);
    // When the earliest partial reply on a granted line is complete by the gap alone.
    std::optional<std::int64_t> NextGapEndMs() const;

    // Shown every reply just before the driver gets it (nothing: no one is shown).
    using DeliveryTap = std::function<void(TComPortNum, const std::vector<std::uint8_t>&)>;
    void SetDeliveryTap(DeliveryTap tap) { deliveryTap_ = std::move(tap); }
    // Told of every write, delivery and release (nullptr: nobody is).
    void SetObserver(LineObserver* observer) noexcept { observer_ = observer; }

    bool Captured(TComPortNum port) const;
    // Whether a device stands behind the port now (false for a port without a line).
    bool LineOpen(TComPortNum port) const;
    const PortStatistics* Statistics(TComPortNum port) const;

    // IUnknown: the service belongs to the host object that creates it; references are
    // counted so that a driver that keeps one too many shows up in the tests.
    HRESULT VX_STDCALL QueryInterface(REFIID riid, void** object) override;
    ULONG VX_STDCALL AddRef() override { return static_cast<ULONG>(++refs_); }
    ULONG VX_STDCALL Release() override { return static_cast<ULONG>(--refs_); }
    long References() const noexcept { return refs_; }

    std::uint8_t VX_STDCALL WriteData(TComPortNum port, const void* data, std::int32_t size,
                                      IKibReceiveData* receiver) override;
    void VX_STDCALL PortSlot2() override {}
    void VX_STDCALL ReleasePort(TComPortNum port, IKibReceiveData* receiver) override;
    void VX_STDCALL PortSlot4() override {}
    void VX_STDCALL PortSlot5() override {}
    void VX_STDCALL PortSlot6() override {}
    void VX_STDCALL PortSlot7() override {}
    void VX_STDCALL PortSlot8() override {}
    void VX_STDCALL PortSlot9() override {}
    void VX_STDCALL PortSlot10() override {}
    bool VX_STDCALL CapturePort(TComPortNum port, IKibReceiveData* receiver) override;
    void VX_STDCALL ServicePort(TComPortNum port, IKibReceiveData* receiver) override;

private:
    struct Port {
        std::unique_ptr<SerialLine> line;
        ReplyAssembler assembler;
        IKibReceiveData* holder = nullptr; // who the port is granted to
        PortStatistics stats;
    };
    struct Reply {
        TComPortNum port;
        IKibReceiveData* receiver;
        std::vector<std::uint8_t> bytes; // none: the request's write was refused
    };

    void Collect(TComPortNum number, Port& port, IKibReceiveData* receiver);
    void DropStaleInput(TComPortNum number, Port& port);
    Port* Find(TComPortNum port);
    const Port* Find(TComPortNum port) const;

    const HostClock& clock_;
    std::int64_t gapMs_;
    long refs_ = 0;
    std::map<TComPortNum, Port> ports_;
    std::deque<Reply> replies_;
    DeliveryTap deliveryTap_;
    LineObserver* observer_ = nullptr;
};

} // namespace vemox::host
