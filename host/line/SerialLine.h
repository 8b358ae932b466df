// A byte line to the controllers: a serial device (or a pseudo-terminal standing in for one).
// The only platform-specific part of the port service; everything above it is portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vemox::host {

struct LineSettings {
    std::uint32_t baud = 9600;
    int dataBits = 8;
    char parity = 'N'; // 'N' none, 'E' even, 'O' odd
    int stopBits = 1;
};

class SerialLine {
public:
    virtual ~SerialLine() = default;
    // Writes every byte or answers false; a short or failed write is a refused write.
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
    // Copies what has arrived, at most `capacity` bytes, without waiting; 0 when nothing has.
    virtual std::size_t Read(std::uint8_t* buffer, std::size_t capacity) = 0;
    // Drops everything that has arrived and not been read. A device line also empties its
    // driver's receive buffer; this default reads and discards.
    virtual void DropInput();
    // Why the device failed for good (hung up, removed, an I/O error); empty while it works.
    virtual std::string Failure() const { return {}; }
    // Whether a device stands behind the line now.
    virtual bool IsOpen() const { return true; }
    // The open device that WaitForInput can wait on; none while there is no device.
    virtual SerialLine* Waitable() { return this; }
};

inline void SerialLine::DropInput() {
    std::uint8_t discarded[256];
    while (Read(discarded, sizeof discarded) > 0) {
    }
}

// Opens and configures the device for this program alone; throws std::runtime_error naming
// the device and the cause ("device busy" when another program has it).
std::unique_ptr<SerialLine> OpenSerialLine(const std::string& device, const LineSettings& settings);

// Whether the serial backend can set this line rate at all.
bool BaudRateSupported(std::uint32_t baud);

// Waits until one of the lines has bytes to read or `timeoutMs` has passed. Only lines this
// file opened can be waited on; when there are none the wait is a plain sleep, so a host
// whose ports failed to open still keeps its period.
void WaitForInput(const std::vector<SerialLine*>& lines, std::int64_t timeoutMs);

// The device a port name stands for when the configuration names none ("" if there is none).
std::string DefaultDeviceFor(int portNumber);
// Whether the device is there now, without opening it.
bool DevicePresent(const std::string& device);

} // namespace vemox::host
