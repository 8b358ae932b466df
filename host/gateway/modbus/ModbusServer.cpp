#include "host/gateway/modbus/ModbusServer.h"

#include <modbus/modbus.h>

#include <fcntl.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <tuple>

namespace vemox::host {
namespace {

constexpr int kHeaderLength = 7;        // transaction, protocol, length, unit
constexpr std::size_t kMostFrame = 260; // the MBAP header and the largest PDU
constexpr std::uint16_t kLongestPdu = 253;
constexpr int kSelectMs = 500;             // how often idle clients are looked for
constexpr double kUnixEpochAsDate = 25569; // 1970-01-01 as an OLE date
constexpr double kSecondsPerDay = 86400;

enum Function : std::uint8_t {
    kReadCoils = 0x01,
    kReadDiscreteInputs = 0x02,
    kReadHoldingRegisters = 0x03,
    kReadInputRegisters = 0x04,
    kWriteCoil = 0x05,
    kWriteRegister = 0x06,
    kWriteCoils = 0x0F,
    kWriteRegisters = 0x10,
};

// A socket closed when its owner goes.
class Socket {
public:
    explicit Socket(int fd = -1) noexcept : fd_(fd) {}
    Socket(Socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Socket& operator=(Socket&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    ~Socket() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int Fd() const noexcept { return fd_; }

private:
    int fd_;
};

struct ContextFree {
    void operator()(modbus_t* context) const noexcept { modbus_free(context); }
};
struct MappingFree {
    void operator()(modbus_mapping_t* mapping) const noexcept { modbus_mapping_free(mapping); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingFree>;

std::uint16_t Word(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

// What stands on one address of a unit's table.
struct Slot {
    bool diagnostics = false;
    std::size_t index = 0; // map entry, or node for the diagnostics block
    int figure = 0;        // in the diagnostics block
    int word = 0;          // of a 32-bit value: 0 the first register on the wire
};

struct Client {
    Socket socket;
    std::vector<std::uint8_t> received;
    std::chrono::steady_clock::time_point lastHeard;
    std::uint64_t awaiting = 0; // a write of this id is under way
    std::vector<std::uint8_t> request;
};

} // namespace

struct ModbusServer::Impl {
    explicit Impl(const HostConfig& config);
    ~Impl();

    void Serve();
    void Accept();
    // false: the client is to be dropped.
    bool Receive(Client& client);
    bool Answer(Client& client, const std::uint8_t* frame, std::size_t length);
    bool Reply(Client& client, const std::uint8_t* frame, std::size_t length,
               ModbusException outcome);
    ModbusException Read(const std::uint8_t* frame, ModbusTable table, int address, int count,
                         Mapping& mapping);
    ModbusException Write(Client& client, const std::uint8_t* frame, std::size_t length);
    std::uint32_t Register32(const Slot& slot, ModbusType type) const;
    void FinishWrites();

    const HostConfig& config;
    const ModbusConfig& modbus;
    std::vector<ModbusEntry> map;
    std::map<std::tuple<int, ModbusTable, int>, Slot> slots;
    std::map<int, std::size_t> units; // unit id -> node
    std::unique_ptr<modbus_t, ContextFree> context;
    Socket listening;
    Socket wakeRead;
    Socket wakeWrite;
    std::map<int, Client> clients; // by socket

    std::mutex mutex; // guards what follows, shared with the host thread
    bool stopping = false;
    std::vector<ModbusValue> values;
    std::vector<ModbusDiagnostics> diagnostics;
    std::deque<ModbusWrite> writes;
    std::vector<std::pair<std::uint64_t, ModbusException>> finished;
    std::uint64_t nextWrite = 1;

    std::thread thread; // last: it starts once everything above is ready
};

ModbusServer::Impl::Impl(const HostConfig& hostConfig)
    : config(hostConfig), modbus(*hostConfig.modbus), map(BuildModbusMap(hostConfig)) {
    for (std::size_t e = 0; e < map.size(); ++e) {
        for (int word = 0; word < map[e].Width(); ++word) {
            slots[{map[e].unit, map[e].table, map[e].address + word}] = {false, e, 0, word};
        }
    }
    for (std::size_t n = 0; n < modbus.unitIds.size(); ++n) {
        units[modbus.unitIds[n]] = n;
        for (int f = 0; f < static_cast<int>(kModbusDiagnostics.size()); ++f) {
            for (int word = 0; word < kModbusRegistersPerValue; ++word) {
                slots[{modbus.unitIds[n], ModbusTable::InputRegisters,
                       kModbusDiagnosticsAddress + f * kModbusRegistersPerValue + word}] = {
                    true, n, f, word};
            }
        }
    }
    values.resize(hostConfig.items.size());
    diagnostics.resize(hostConfig.nodes.size());
    const std::string port = std::to_string(modbus.port);
    context.reset(modbus_new_tcp_pi(modbus.host.c_str(), port.c_str()));
    if (!context) {
        throw ModbusSetupError("[modbus] listen " + modbus.listen + ": " + modbus_strerror(errno));
    }
    listening = Socket(modbus_tcp_pi_listen(context.get(), static_cast<int>(modbus.maxClients)));
    if (listening.Fd() < 0) {
        throw ModbusSetupError("[modbus] listen " + modbus.listen + ": " + modbus_strerror(errno));
    }
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        throw ModbusSetupError(std::string("[modbus]: ") + std::strerror(errno));
    }
    wakeRead = Socket(pipeEnds[0]);
    wakeWrite = Socket(pipeEnds[1]);
    thread = std::thread([this] { Serve(); });
}

ModbusServer::Impl::~Impl() {
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    const char wake = 0;
    (void)!::write(wakeWrite.Fd(), &wake, 1);
    thread.join();
    // The context's socket is one of the clients', closed by its owner.
    modbus_set_socket(context.get(), -1);
}

void ModbusServer::Impl::Serve() {
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        int highest = std::max(listening.Fd(), wakeRead.Fd());
        FD_SET(listening.Fd(), &readable);
        FD_SET(wakeRead.Fd(), &readable);
        for (const auto& [fd, client] : clients) {
            // A client waits for its write's answer before its next request is read.
            if (client.awaiting == 0) {
                FD_SET(fd, &readable);
                highest = std::max(highest, fd);
            }
        }
        timeval timeout{0, kSelectMs * 1000};
        const int ready = ::select(highest + 1, &readable, nullptr, nullptr, &timeout);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        {
            const std::lock_guard<std::mutex> lock(mutex);
            if (stopping) {
                return;
            }
        }
        if (ready > 0 && FD_ISSET(wakeRead.Fd(), &readable)) {
            char drained[64];
            (void)!::read(wakeRead.Fd(), drained, sizeof drained);
        }
        FinishWrites();
        if (ready > 0 && FD_ISSET(listening.Fd(), &readable)) {
            Accept();
        }
        const auto now = std::chrono::steady_clock::now();
        for (auto it = clients.begin(); it != clients.end();) {
            Client& client = it->second;
            bool keep = true;
            if (ready > 0 && client.awaiting == 0 && FD_ISSET(it->first, &readable)) {
                keep = Receive(client);
            } else if (client.awaiting == 0 &&
                       now - client.lastHeard > std::chrono::seconds(modbus.idleTimeoutS)) {
                keep = false;
            }
            it = keep ? std::next(it) : clients.erase(it);
        }
    }
}

void ModbusServer::Impl::Accept() {
    int listenFd = listening.Fd();
    Socket accepted(modbus_tcp_pi_accept(context.get(), &listenFd));
    modbus_set_socket(context.get(), -1);
    if (accepted.Fd() < 0 || clients.size() >= static_cast<std::size_t>(modbus.maxClients)) {
        return; // one more than max_clients is closed at once
    }
    // A client that does not take its answers must not hold up the others.
    ::fcntl(accepted.Fd(), F_SETFL, ::fcntl(accepted.Fd(), F_GETFL) | O_NONBLOCK);
    const int fd = accepted.Fd();
    Client& client = clients[fd];
    client.socket = std::move(accepted);
    client.lastHeard = std::chrono::steady_clock::now();
}

bool ModbusServer::Impl::Receive(Client& client) {
    std::uint8_t buffer[kMostFrame];
    const ssize_t got = ::recv(client.socket.Fd(), buffer, sizeof buffer, 0);
    if (got <= 0) {
        return got < 0 && (errno == EAGAIN || errno == EINTR);
    }
    client.lastHeard = std::chrono::steady_clock::now();
    client.received.insert(client.received.end(), buffer, buffer + got);
    // Whole frames are answered in turn; a part waits for the rest, or for the idle time-out.
    while (client.awaiting == 0 && client.received.size() >= kHeaderLength) {
        const std::uint16_t protocol = Word(&client.received[2]);
        const std::uint16_t length = Word(&client.received[4]);
        if (protocol != 0 || length < 2 || length > kLongestPdu + 1) {
            return false; // not Modbus: the client is dropped, the others go on
        }
        const std::size_t frame = 6u + length;
        if (client.received.size() < frame) {
            break;
        }
        const std::vector<std::uint8_t> request(client.received.begin(),
                                                client.received.begin() + frame);
        client.received.erase(client.received.begin(), client.received.begin() + frame);
        if (!Answer(client, request.data(), request.size())) {
            return false;
        }
    }
    return true;
}

bool ModbusServer::Impl::Reply(Client& client, const std::uint8_t* frame, std::size_t length,
                               ModbusException outcome) {
    modbus_set_socket(context.get(), client.socket.Fd());
    int sent = 0;
    if (outcome != ModbusException::None) {
        sent = modbus_reply_exception(context.get(), frame, static_cast<unsigned>(outcome));
    } else {
        // The echo of a write: libmodbus answers it from a mapping that holds the range.
        const int address = Word(frame + kHeaderLength + 1);
        const bool coils =
            frame[kHeaderLength] == kWriteCoil || frame[kHeaderLength] == kWriteCoils;
        const Mapping mapping(modbus_mapping_new_start_address(
            coils ? address : 0, coils ? MODBUS_MAX_WRITE_BITS : 0, 0, 0, coils ? 0 : address,
            coils ? 0 : MODBUS_MAX_WRITE_REGISTERS, 0, 0));
        sent = mapping ? modbus_reply(context.get(), frame, static_cast<int>(length), mapping.get())
                       : -1;
    }
    modbus_set_socket(context.get(), -1);
    return sent > 0;
}

bool ModbusServer::Impl::Answer(Client& client, const std::uint8_t* frame, std::size_t length) {
    const std::uint8_t function = frame[kHeaderLength];
    const auto unit = units.find(frame[kHeaderLength - 1]);
    if (length < kHeaderLength + 5u) {
        const bool known = function >= kReadCoils && function <= kWriteRegister;
        return Reply(client, frame, length,
                     known || function == kWriteCoils || function == kWriteRegisters
                         ? ModbusException::IllegalValue
                         : ModbusException::IllegalFunction);
    }
    const int address = Word(frame + kHeaderLength + 1);
    const int count = Word(frame + kHeaderLength + 3);
    ModbusTable table = ModbusTable::Coils;
    switch (function) {
    case kReadCoils:
        table = ModbusTable::Coils;
        break;
    case kReadDiscreteInputs:
        table = ModbusTable::DiscreteInputs;
        break;
    case kReadHoldingRegisters:
        table = ModbusTable::HoldingRegisters;
        break;
    case kReadInputRegisters:
        table = ModbusTable::InputRegisters;
        break;
    case kWriteCoil:
    case kWriteRegister:
    case kWriteCoils:
    case kWriteRegisters:
        if (unit == units.end()) {
            return Reply(client, frame, length, ModbusException::PathUnavailable);
        }
        if (const ModbusException refused = Write(client, frame, length);
            refused != ModbusException::None) {
            return Reply(client, frame, length, refused);
        }
        return true; // answered when the host thread has written
    default:
        return Reply(client, frame, length, ModbusException::IllegalFunction);
    }
    if (unit == units.end()) {
        return Reply(client, frame, length, ModbusException::PathUnavailable);
    }
    const int most = IsRegisterTable(table) ? MODBUS_MAX_READ_REGISTERS : MODBUS_MAX_READ_BITS;
    if (count < 1 || count > most) {
        return Reply(client, frame, length, ModbusException::IllegalValue);
    }
    Mapping mapping;
    const ModbusException outcome = Read(frame, table, address, count, mapping);
    if (outcome != ModbusException::None) {
        return Reply(client, frame, length, outcome);
    }
    modbus_set_socket(context.get(), client.socket.Fd());
    const int sent = modbus_reply(context.get(), frame, static_cast<int>(length), mapping.get());
    modbus_set_socket(context.get(), -1);
    return sent > 0;
}

std::uint32_t ModbusServer::Impl::Register32(const Slot& slot, ModbusType type) const {
    double value = 0;
    bool date = false;
    if (slot.diagnostics) {
        value = diagnostics[slot.index].figures[static_cast<std::size_t>(slot.figure)];
        date =
            kModbusDiagnostics[static_cast<std::size_t>(slot.figure)] == LinkFigure::LastGoodReply;
    } else {
        value = values[map[slot.index].item].value;
        date = map[slot.index].date;
    }
    if (date) {
        // Seconds since 1970 (UTC), not the driver's day count; 0 before the first good reply.
        value = value == 0 ? 0 : (value - kUnixEpochAsDate) * kSecondsPerDay;
    }
    switch (type) {
    case ModbusType::Float32: {
        const float single = static_cast<float>(value);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &single, sizeof bits);
        return bits;
    }
    case ModbusType::Int32: {
        const double scaled =
            std::round(value * std::pow(10.0, slot.diagnostics ? 0 : map[slot.index].decimals));
        const double low = std::numeric_limits<std::int32_t>::min();
        const double high = std::numeric_limits<std::int32_t>::max();
        return static_cast<std::uint32_t>(
            static_cast<std::int32_t>(std::isnan(scaled) ? 0 : std::clamp(scaled, low, high)));
    }
    default: {
        const double whole = std::round(value);
        const double high = std::numeric_limits<std::uint32_t>::max();
        return static_cast<std::uint32_t>(std::isnan(whole) ? 0 : std::clamp(whole, 0.0, high));
    }
    }
}

ModbusException ModbusServer::Impl::Read(const std::uint8_t* frame, ModbusTable table, int address,
                                         int count, Mapping& mapping) {
    const int unit = frame[kHeaderLength - 1];
    const bool registers = IsRegisterTable(table);
    std::vector<const Slot*> found;
    for (int a = address; a < address + count; ++a) {
        const auto slot = slots.find({unit, table, a});
        if (slot == slots.end()) {
            return ModbusException::IllegalAddress;
        }
        found.push_back(&slot->second);
    }
    const int n = count;
    mapping.reset(
        modbus_mapping_new_start_address(address, table == ModbusTable::Coils ? n : 0, address,
                                         table == ModbusTable::DiscreteInputs ? n : 0, address,
                                         table == ModbusTable::HoldingRegisters ? n : 0, address,
                                         table == ModbusTable::InputRegisters ? n : 0));
    if (!mapping) {
        return ModbusException::TargetNoResponse;
    }
    std::uint8_t* bits = table == ModbusTable::Coils ? mapping->tab_bits : mapping->tab_input_bits;
    std::uint16_t* words = table == ModbusTable::HoldingRegisters ? mapping->tab_registers
                                                                  : mapping->tab_input_registers;
    const std::lock_guard<std::mutex> lock(mutex);
    for (int i = 0; i < count; ++i) {
        const Slot& slot = *found[static_cast<std::size_t>(i)];
        const bool good =
            slot.diagnostics ? diagnostics[slot.index].good : values[map[slot.index].item].good;
        if (!good) {
            return ModbusException::TargetNoResponse;
        }
        if (!registers) {
            bits[i] = values[map[slot.index].item].value != 0 ? 1 : 0;
            continue;
        }
        const ModbusType type = slot.diagnostics ? ModbusType::Uint32 : map[slot.index].type;
        const std::uint32_t both = Register32(slot, type);
        const bool highFirst = modbus.wordOrder == ModbusWordOrder::Big;
        const bool high = (slot.word == 0) == highFirst;
        words[i] = static_cast<std::uint16_t>(high ? both >> 16 : both & 0xFFFF);
    }
    return ModbusException::None;
}

ModbusException ModbusServer::Impl::Write(Client& client, const std::uint8_t* frame,
                                          std::size_t length) {
    const int unit = frame[kHeaderLength - 1];
    const std::uint8_t function = frame[kHeaderLength];
    const int address = Word(frame + kHeaderLength + 1);
    const bool coils = function == kWriteCoil || function == kWriteCoils;
    const bool single = function == kWriteCoil || function == kWriteRegister;
    const int count = single ? 1 : Word(frame + kHeaderLength + 3);
    const std::uint8_t* data = frame + kHeaderLength + (single ? 3 : 6);
    const std::size_t bytes = single ? 2u : frame[kHeaderLength + 5];
    const int most = coils ? MODBUS_MAX_WRITE_BITS : MODBUS_MAX_WRITE_REGISTERS;
    if (count < 1 || count > most ||
        (!single && bytes != static_cast<std::size_t>(coils ? (count + 7) / 8 : count * 2)) ||
        length < static_cast<std::size_t>(data - frame) + bytes) {
        return ModbusException::IllegalValue;
    }
    const ModbusTable table = coils ? ModbusTable::Coils : ModbusTable::HoldingRegisters;
    ModbusWrite write;
    for (int i = 0; i < count;) {
        const auto slot = slots.find({unit, table, address + i});
        if (slot == slots.end()) {
            return ModbusException::IllegalAddress;
        }
        const ModbusEntry& entry = map[slot->second.index];
        if (!entry.writable) {
            return ModbusException::IllegalFunction;
        }
        if (coils) {
            bool on = false;
            if (single) {
                const std::uint16_t word = Word(data);
                if (word != 0xFF00 && word != 0) {
                    return ModbusException::IllegalValue;
                }
                on = word == 0xFF00;
            } else {
                on = (data[i / 8] >> (i % 8)) & 1;
            }
            write.items.push_back({entry.item, on ? 1.0 : 0.0, on ? "1" : "0"});
            ++i;
            continue;
        }
        // A 32-bit value is written whole, or not at all.
        if (slot->second.word != 0 || i + kModbusRegistersPerValue > count) {
            return ModbusException::IllegalValue;
        }
        const std::uint32_t first = Word(data + 2 * i);
        const std::uint32_t second = Word(data + 2 * i + 2);
        const std::uint32_t both =
            modbus.wordOrder == ModbusWordOrder::Big ? first << 16 | second : second << 16 | first;
        double value = 0;
        if (entry.type == ModbusType::Float32) {
            float single32 = 0;
            std::memcpy(&single32, &both, sizeof single32);
            value = single32;
        } else {
            value = static_cast<std::int32_t>(both) / std::pow(10.0, entry.decimals);
        }
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", value);
        write.items.push_back({entry.item, value, text});
        i += kModbusRegistersPerValue;
    }
    const std::lock_guard<std::mutex> lock(mutex);
    if (writes.size() >= kModbusMaxWaitingWrites) {
        return ModbusException::ServerBusy;
    }
    write.id = nextWrite++;
    client.awaiting = write.id;
    client.request.assign(frame, frame + length);
    writes.push_back(std::move(write));
    return ModbusException::None;
}

void ModbusServer::Impl::FinishWrites() {
    std::vector<std::pair<std::uint64_t, ModbusException>> done;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        done.swap(finished);
    }
    for (const auto& [id, outcome] : done) {
        for (auto it = clients.begin(); it != clients.end(); ++it) {
            Client& client = it->second;
            if (client.awaiting != id) {
                continue;
            }
            client.awaiting = 0;
            client.lastHeard = std::chrono::steady_clock::now();
            const std::vector<std::uint8_t> request = std::move(client.request);
            if (!Reply(client, request.data(), request.size(), outcome)) {
                clients.erase(it);
            }
            break;
        }
    }
}

ModbusServer::ModbusServer(const HostConfig& config) : impl_(std::make_unique<Impl>(config)) {}

ModbusServer::~ModbusServer() = default;

void ModbusServer::Update(std::vector<ModbusValue> values, std::vector<ModbusDiagnostics> units) {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->values = std::move(values);
    if (!units.empty()) {
        impl_->diagnostics = std::move(units);
    }
}

std::vector<ModbusWrite> ModbusServer::TakeWrites() {
    const std::lock_guard<std::mutex> lock(impl_->mutex);
    std::vector<ModbusWrite> taken(std::make_move_iterator(impl_->writes.begin()),
                                   std::make_move_iterator(impl_->writes.end()));
    impl_->writes.clear();
    return taken;
}

void ModbusServer::Finish(std::uint64_t id, ModbusException outcome) {
    {
        const std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->finished.emplace_back(id, outcome);
    }
    const char wake = 0;
    (void)!::write(impl_->wakeWrite.Fd(), &wake, 1);
}

} // namespace vemox::host
