#include "driver/Process.h"

#include "contract/Constants.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"
#include "protocol/Codec.h"

#include <cmath>
#include <stdexcept>

namespace vemox {

namespace {

// Thrown where the cycle would call the host but the host's interfaces are gone; it ends the
// cycle like any other failure.
struct HostGone : std::runtime_error {
    HostGone() : std::runtime_error("host interfaces not set") {}
};

IKibComPort3& Com(const TComPortDriver& driver) {
    IKibComPort3* ports = driver.ComPorts();
    if (!ports) {
        throw HostGone();
    }
    return *ports;
}

void WriteLog(const TComPortDriver& driver, const std::u16string& line) {
    IKibOPCServer2* server = driver.Server();
    if (!server) {
        throw HostGone();
    }
    KibShortString text;
    GetShortString(line, text);
    server->WriteLog(text, kLogKind);
}

TDevice* DeviceOf(TComPort& port, const TCommand& command) noexcept {
    return command.DeviceIndex < port.Devices.size() ? &port.Devices[command.DeviceIndex] : nullptr;
}

TCommand* Head(TComPort& port) noexcept {
    return port.Commands.empty() ? nullptr : port.Commands.front();
}

// The port record at `index` if its head is still `head`. A host may call back into the driver
// from CapturePort or WriteData (deliver a reply, purge, add tasks), which can finish the
// request or move the records: nothing found before such a call is trusted after it.
TComPort* StillHead(std::size_t index, const TCommand* head) noexcept {
    return index < Ports.size() && Head(Ports[index]) == head ? &Ports[index] : nullptr;
}

} // namespace

std::int64_t ElapsedMs(double now, double then) noexcept {
    // Date-times carry whole milliseconds; rounding keeps 3000 ms from reading as 2999.
    return std::llround(std::fabs(now - then) * platform::kMillisecondsPerDay);
}

void TKibProcess::OnTimer(TComPortDriver& driver) noexcept {
    try {
        IKibReceiveData* receiver = driver.ReceiveInterface();

        // Pass 1: write the head request of every port that is free.
        for (std::size_t i = 0, count = Ports.size(); i < count && i < Ports.size(); ++i) {
            TCommand* head = driver.PrepareHead(Ports[i]);
            if (!head || head->State != csWaiting) {
                continue;
            }
            const TComPortNum number = Ports[i].Port;
            if (!Com(driver).CapturePort(number, receiver)) {
                continue;
            }
            TComPort* port = StillHead(i, head);
            if (!port || head->State != csWaiting) {
                continue;
            }
            head->State = csActive;
            head->SendTime = 0;
            head->EchoSeen = false;
            TDevice* device = DeviceOf(*port, *head);
            if (!device) {
                continue;
            }
            const double now = platform::LocalNow();
            if (device->State != sdSuccess &&
                ElapsedMs(now, device->LastTimeSend) <
                    static_cast<std::int64_t>(DriverSettings.TimeNextSend)) {
                continue; // a silent controller: pass 3 fails this request without a write
            }
            const std::uint8_t answer =
                Com(driver).WriteData(number, head->Data, head->Size, receiver);
            port = StillHead(i, head);
            device = port && head->State == csActive ? DeviceOf(*port, *head) : nullptr;
            if (!device) {
                continue; // answered or dropped while the host was writing
            }
            head->SendTime = now;
            device->LastTimeSend = now;
            if (head->TryCount < 0xFF) {
                ++head->TryCount;
            }
            if (answer == 0) {
                device->State = sdSuccess;
                WriteLog(driver, GetPortName(number) + kLogTx + GetStrData(head->Data, head->Size));
            } else {
                device->State = sdFailed;
                ++device->Link.RefusedWrites;
                WriteLog(driver, GetPortName(number) + kLogWriteError);
            }
        }

        // Pass 2: every known port gets its service call.
        for (std::size_t i = 0, count = Ports.size(); i < count && i < Ports.size(); ++i) {
            Com(driver).ServicePort(Ports[i].Port, receiver);
        }

        // Pass 3: requests that were not written, or waited too long, go to reply handling.
        // The clock is read once for the pass (it cost more than the rest of the cycle when
        // read per port); a reading that grows stale while the pass runs can only make a
        // time-out come one cycle later, never early.
        double passNow = 0;
        bool clockRead = false;
        for (std::size_t i = 0, count = Ports.size(); i < count && i < Ports.size(); ++i) {
            TComPort& port = Ports[i];
            TCommand* head = Head(port);
            if (!head || head->State != csActive) {
                continue;
            }
            TDevice* device = DeviceOf(port, *head);
            if (!device || head->SendTime == 0) {
                driver.OnReceiveData(port.Port, nullptr, 0);
            } else {
                if (!clockRead) {
                    passNow = platform::LocalNow();
                    clockRead = true;
                }
                if (ElapsedMs(passNow, head->SendTime) >=
                    static_cast<std::int64_t>(DriverSettings.WaitTimeout)) {
                    device->State = sdNotAnswer;
                    driver.OnReceiveData(port.Port, nullptr, 0);
                }
            }
        }
    } catch (...) {
        // The cycle ends here; the next Execute starts afresh.
    }
}

} // namespace vemox
