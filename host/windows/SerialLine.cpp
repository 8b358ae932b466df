// Win32 COM handles: CreateFile on \\.\COMn, SetCommState, and time-outs that make ReadFile
// return at once with whatever has arrived.
#include "host/SerialLine.h"

#include <windows.h>

#include <stdexcept>

namespace vemox::host {
namespace {

std::string LastErrorText() {
    return "system error " + std::to_string(static_cast<unsigned long>(::GetLastError()));
}

class ComHandleLine final : public SerialLine {
public:
    explicit ComHandleLine(HANDLE handle) : handle_(handle) {}
    ~ComHandleLine() override { ::CloseHandle(handle_); }
    ComHandleLine(const ComHandleLine&) = delete;
    ComHandleLine& operator=(const ComHandleLine&) = delete;

    bool Write(const std::uint8_t* data, std::size_t size) override {
        DWORD written = 0;
        const BOOL ok = ::WriteFile(handle_, data, static_cast<DWORD>(size), &written, nullptr);
        return ok && written == size;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        DWORD got = 0;
        if (!::ReadFile(handle_, buffer, static_cast<DWORD>(capacity), &got, nullptr)) {
            return 0;
        }
        return got;
    }

private:
    HANDLE handle_;
};

} // namespace

std::unique_ptr<SerialLine> OpenSerialLine(const std::string& device,
                                           const LineSettings& settings) {
    const HANDLE handle = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw std::runtime_error(device + ": cannot be opened (" + LastErrorText() + ")");
    }
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
        const std::string reason = LastErrorText();
        ::CloseHandle(handle);
        throw std::runtime_error(device + ": cannot set line parameters (" + reason + ")");
    }
    // MAXDWORD read interval with zero totals: ReadFile returns at once with what is there.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.WriteTotalTimeoutConstant = 1000;
    ::SetCommTimeouts(handle, &timeouts);
    ::PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return std::make_unique<ComHandleLine>(handle);
}

std::string DefaultDeviceFor(int portNumber) {
    return "\\\\.\\COM" + std::to_string(portNumber + 1);
}

} // namespace vemox::host
