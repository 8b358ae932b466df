// A port's device as the host keeps it: opened at start, closed when it fails (an adapter
// pulled out, the far end of a pseudo-terminal gone), and opened again every retry period
// until it is back. While there is no device, writes are refused and nothing arrives, so
// the driver reports its controllers as unreachable; once the device is back, the next
// request goes out on it. Each change of state is told once through the notice sink.
#pragma once

#include "host/line/HostClock.h"
#include "host/line/SerialLine.h"

#include <functional>
#include <memory>
#include <string>

namespace vemox::host {

class ReopeningLine final : public SerialLine {
public:
    // Throws std::runtime_error "DEVICE: reason" when the device cannot be opened.
    using Opener = std::function<std::unique_ptr<SerialLine>()>;
    using Notice = std::function<void(const std::string&)>;

    // Opens at once; `port` and `device` name the line in notices ("COM1", "/dev/ttyUSB0").
    ReopeningLine(std::string port, std::string device, Opener open, const HostClock& clock,
                  std::int64_t retryMs, Notice notice);

    bool Write(const std::uint8_t* data, std::size_t size) override;
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override;
    void DropInput() override;
    SerialLine* Waitable() override { return line_ ? line_->Waitable() : nullptr; }

    bool IsOpen() const override { return line_ != nullptr; }

private:
    // Opens the device when it is closed and the retry period has passed; answers IsOpen().
    bool Ensure();
    // Closes the device when it reports a failure.
    void CloseIfFailed();
    // Schedules the next try and tells why the device is closed, unless that was told last.
    void Closed(const std::string& because);
    void Tell(const std::string& text) const;

    std::string port_;
    std::string device_;
    Opener open_;
    const HostClock& clock_;
    std::int64_t retryMs_;
    Notice notice_;
    std::unique_ptr<SerialLine> line_;
    std::int64_t nextTryMs_ = 0;
    bool everOpen_ = false;
    std::string closedBecause_; // as last told; empty while open
};

} // namespace vemox::host
