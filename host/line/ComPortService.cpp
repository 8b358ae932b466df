#include "host/line/ComPortService.h"

#include <algorithm>

namespace vemox::host {
namespace {

// The observer only watches: nothing it does may reach the driver, whose call brought us here.
template <typename Call> void Tell(LineObserver* observer, Call call) noexcept {
    if (!observer) {
        return;
    }
    try {
        call(*observer);
    } catch (...) {
    }
}

} // namespace

void ComPortService::Attach(TComPortNum port, std::unique_ptr<SerialLine> line) {
    ports_.erase(port);
    Port& record =
        ports_.emplace(port, Port{nullptr, ReplyAssembler(gapMs_), nullptr, {}}).first->second;
    record.line = std::move(line);
}

ComPortService::Port* ComPortService::Find(TComPortNum port) {
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : &it->second;
}

const ComPortService::Port* ComPortService::Find(TComPortNum port) const {
    const auto it = ports_.find(port);
    return it == ports_.end() ? nullptr : &it->second;
}

bool ComPortService::Captured(TComPortNum port) const {
    const Port* record = Find(port);
    return record && record->holder;
}

bool ComPortService::LineOpen(TComPortNum port) const {
    const Port* record = Find(port);
    return record && record->line->IsOpen();
}

const PortStatistics* ComPortService::Statistics(TComPortNum port) const {
    const Port* record = Find(port);
    return record ? &record->stats : nullptr;
}

HRESULT ComPortService::QueryInterface(REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (SameGuid(riid, IID_IKibComPort3) || SameGuid(riid, IID_IKibComPort2) ||
        SameGuid(riid, IID_IKibComPort) || SameGuid(riid, IID_IUnknown_)) {
        *object = static_cast<IKibComPort3*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

bool ComPortService::CapturePort(TComPortNum port, IKibReceiveData* receiver) {
    Port* record = Find(port);
    // An unconfigured port is never granted: the request waits instead of failing on a
    // line that does not exist.
    if (!record || !receiver || record->holder) {
        return false;
    }
    record->holder = receiver;
    return true;
}

void ComPortService::ReleasePort(TComPortNum port, IKibReceiveData* receiver) {
    Port* record = Find(port);
    if (record && record->holder == receiver) {
        record->holder = nullptr;
        Tell(observer_, [&](LineObserver& o) { o.Released(port, clock_.NowMs()); });
    }
}

std::uint8_t ComPortService::WriteData(TComPortNum port, const void* data, std::int32_t size,
                                       IKibReceiveData* receiver) {
    constexpr std::uint8_t kAccepted = 0;
    constexpr std::uint8_t kRefused = 1;
    Port* record = Find(port);
    if (!record) {
        return kRefused;
    }
    // Only the holder of the grant may write, so two requests never share the line.
    const bool allowed = record->holder && record->holder == receiver && data && size > 0;
    if (allowed) {
        DropStaleInput(port, *record);
    }
    const bool written = allowed && record->line->Write(static_cast<const std::uint8_t*>(data),
                                                        static_cast<std::size_t>(size));
    if (data && size > 0) {
        Tell(observer_, [&](LineObserver& o) {
            o.Written(port, static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size),
                      written, clock_.NowMs());
        });
    }
    if (!written) {
        ++record->stats.refusedWrites;
        // No reply can come to bytes that never left: the request ends now, as one without an
        // answer, instead of waiting out its time-out on every repeat. The driver then finds
        // its controller in the failed state and ends the items as plain bad.
        if (allowed) {
            replies_.push_back({port, receiver, {}});
        }
        return kRefused;
    }
    ++record->stats.writes;
    record->stats.lastWriteMs = clock_.NowMs();
    return kAccepted;
}

// Whatever came before a request cannot answer it: a reply that arrived after its request
// had timed out, the rest of a reply to a host that was stopped mid-exchange, noise. Left
// in place it would be taken as the answer to the request about to go out.
void ComPortService::DropStaleInput(TComPortNum number, Port& port) {
    port.line->DropInput();
    port.assembler.Clear();
    replies_.erase(std::remove_if(replies_.begin(), replies_.end(),
                                  [number](const Reply& reply) { return reply.port == number; }),
                   replies_.end());
}

void ComPortService::ServicePort(TComPortNum port, IKibReceiveData* receiver) {
    Port* record = Find(port);
    if (record && receiver) {
        Collect(port, *record, receiver);
    }
}

void ComPortService::Collect(TComPortNum number, Port& port, IKibReceiveData* receiver) {
    std::uint8_t buffer[256];
    for (;;) {
        const std::size_t got = port.line->Read(buffer, sizeof buffer);
        if (got == 0) {
            break;
        }
        port.assembler.Feed(buffer, got, clock_.NowMs());
    }
    while (auto reply = port.assembler.Take(clock_.NowMs())) {
        ++port.stats.replies;
        port.stats.lastReplyMs = clock_.NowMs();
        replies_.push_back({number, receiver, std::move(*reply)});
    }
}

bool ComPortService::Gather() {
    // Lines nobody holds are left alone: what arrives there belongs to no request, and the
    // next holder's ServicePort sees it exactly as it would without this early look.
    for (auto& [number, port] : ports_) {
        if (port.holder) {
            Collect(number, port, port.holder);
        }
    }
    return !replies_.empty();
}

void ComPortService::WaitForInput(std::int64_t timeoutMs) {
    std::vector<SerialLine*> held;
    for (auto& [number, port] : ports_) {
        SerialLine* device = port.holder ? port.line->Waitable() : nullptr;
        if (device) {
            held.push_back(device);
        }
    }
    host::WaitForInput(held, timeoutMs);
}

std::optional<std::int64_t> ComPortService::NextGapEndMs() const {
    std::optional<std::int64_t> earliest;
    for (const auto& [number, port] : ports_) {
        const auto end = port.assembler.GapEndsAtMs();
        if (port.holder && end && (!earliest || *end < *earliest)) {
            earliest = end;
        }
    }
    return earliest;
}

int ComPortService::DeliverReplies() {
    int delivered = 0;
    while (!replies_.empty()) {
        const Reply reply = std::move(replies_.front());
        replies_.pop_front();
        if (reply.bytes.empty()) {
            reply.receiver->OnReceiveData(reply.port, nullptr, 0);
            ++delivered;
            continue;
        }
        if (deliveryTap_) {
            deliveryTap_(reply.port, reply.bytes);
        }
        Tell(observer_,
             [&](LineObserver& o) { o.Delivered(reply.port, reply.bytes, clock_.NowMs()); });
        reply.receiver->OnReceiveData(reply.port, reply.bytes.data(),
                                      static_cast<std::int32_t>(reply.bytes.size()));
        ++delivered;
    }
    return delivered;
}

} // namespace vemox::host
