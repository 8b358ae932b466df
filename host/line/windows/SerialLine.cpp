// Win32 COM handles: CreateFile on \\.\COMn, SetCommState, and time-outs that make ReadFile
// return at once with whatever has arrived. Waiting for input looks at the ports' receive
// queues every millisecond: it keeps the handles synchronous, which every other call here
// relies on. (A ReadFile that waits for the first byte was slower under Wine, which waits
// out the whole time-out.)
#include "host/line/SerialLine.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace vemox::host {
namespace {

// The rates Win32 names (CBR_*) from the configuration's range, and 230400, which every
// current adapter takes.
constexpr std::uint32_t kRates[] = {1200,  2400,  4800,   9600,   14400, 19200,
                                    38400, 57600, 115200, 128000, 230400};

std::string ErrorText(DWORD error) {
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "device busy (another program has it open)";
    case ERROR_FILE_NOT_FOUND:
        return "no such device";
    default:
        return "system error " + std::to_string(static_cast<unsigned long>(error));
    }
}

class ComHandleLine final : public SerialLine {
public:
    explicit ComHandleLine(HANDLE handle) : handle_(handle) {}
    ~ComHandleLine() override { ::CloseHandle(handle_); }
    ComHandleLine(const ComHandleLine&) = delete;
    ComHandleLine& operator=(const ComHandleLine&) = delete;

    // A time-out writes fewer bytes and is only a refused write; a failed call means the
    // device is gone (an adapter pulled out fails every call from then on).
    bool Write(const std::uint8_t* data, std::size_t size) override {
        DWORD written = 0;
        if (!::WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr)) {
            Fail(::GetLastError());
            return false;
        }
        return written == size;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        DWORD got = 0;
        if (!::ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
            Fail(::GetLastError());
            return 0;
        }
        return got;
    }

    void DropInput() override { ::PurgeComm(handle_, PURGE_RXCLEAR); }
    std::string Failure() const override { return failure_; }

    bool HasInput() const {
        DWORD errors = 0;
        COMSTAT status{};
        return ::ClearCommError(handle_, &errors, &status) && status.cbInQue > 0;
    }

private:
    void Fail(DWORD error) {
        if (failure_.empty()) {
            failure_ = ErrorText(error);
        }
    }

    HANDLE handle_;
    std::string failure_;
};

} // namespace

bool BaudRateSupported(std::uint32_t baud) {
    return std::find(std::begin(kRates), std::end(kRates), baud) != std::end(kRates);
}

std::unique_ptr<SerialLine> OpenSerialLine(const std::string& device,
                                           const LineSettings& settings) {
    // Share mode 0: the port is this program's alone until it closes the handle.
    const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw std::runtime_error(device + ": cannot be opened (" + ErrorText(::GetLastError()) +
                                 ")");
    }
    auto line = std::make_unique<ComHandleLine>(handle);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(handle, &dcb);
    dcb.BaudRate = settings.baud;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = settings.parity == 'E'   ? EVENPARITY
                 : settings.parity == 'O' ? ODDPARITY
                                          : NOPARITY;
    dcb.fParity = settings.parity != 'N';
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    if (!::SetCommState(handle, &dcb)) {
        throw std::runtime_error(device + ": cannot set line parameters (" +
                                 ErrorText(::GetLastError()) + ")");
    }
    // MAXDWORD read interval with zero totals: ReadFile returns at once with what is there.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = 1000;
    ::SetCommTimeouts(handle, &timeouts);
    ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return line;
}

void WaitForInput(const std::vector<SerialLine*>& lines, std::int64_t timeoutMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (SerialLine* line : lines) {
            const auto* com = dynamic_cast<const ComHandleLine*>(line);
            if (com && com->HasInput()) {
                return;
            }
        }
        if (std::chrono::steady_clock::now() >= until) {
            return;
        }
        ::Sleep(1);
    }
}

std::string DefaultDeviceFor(int portNumber) {
    return "\\\\.\\COM" + std::to_string(portNumber + 1);
}

bool DevicePresent(const std::string& device) {
    // The system lists its devices by their bare name ("COM3"), without the "\\.\" prefix.
    const std::string prefix = "\\\\.\\";
    const std::string name =
        device.compare(0, prefix.size(), prefix) == 0 ? device.substr(prefix.size()) : device;
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

} // namespace vemox::host
