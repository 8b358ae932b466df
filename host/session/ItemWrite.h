// One write of an item as the operator asks for it, from the command line or a gateway: only
// what passes the write gate (WriteLimits.h), and on top of what the controller reports (the
// item is read first, so that the other outputs and the other level stay as they are).
#pragma once

#include "host/session/DriverSession.h"
#include "host/session/WriteLimits.h"
#include "platform/Com.h"

#include <string>

namespace vemox::host {

enum class WriteEnd {
    Refused,    // the item or the value cannot be written; nothing was sent
    NotWritten, // the controller could not be asked (no decimal places, item stuck busy)
    Written,    // the driver took the write; `finished` and `result` tell how it ended
};

struct WriteOutcome {
    WriteEnd end = WriteEnd::NotWritten;
    std::string why;       // Refused, NotWritten: what the operator reads, item name first
    bool finished = false; // Written: the driver completed the write
    HRESULT result = E_FAIL;
    std::uint16_t quality = 0;
    platform::Variant value{}; // Written: what the driver was handed

    bool Acknowledged() const noexcept {
        return end == WriteEnd::Written && finished && result == S_OK;
    }
};

// `askedText` is the value as the operator gave it, for the messages.
WriteOutcome WriteItem(DriverSession& session, SessionItem& item, const AskedValue& asked,
                       const std::string& askedText, const HostClock& clock, const RunHooks& hooks);

} // namespace vemox::host
