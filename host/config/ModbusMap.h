// Where each item stands for Modbus TCP clients: its unit (the node), its table and address,
// and how its value is carried. Items take addresses in configuration order, each in the table
// that fits it; an item may give its own address with `modbus = N`.
//
// Every unit also carries its controller's link figures in a fixed block of input registers
// from kModbusDiagnosticsAddress on, two registers (unsigned 32-bit) per figure, in the order
// of kModbusDiagnostics.
#pragma once

#include "contract/Operations.h"
#include "host/config/HostConfig.h"

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace vemox::host {

enum class ModbusTable { Coils, DiscreteInputs, HoldingRegisters, InputRegisters };
enum class ModbusType { Bool, Float32, Int32, Uint32 };

constexpr int kModbusRegistersPerValue = 2;

struct ModbusEntry {
    std::size_t item = 0; // in the configuration's items
    int unit = 0;
    ModbusTable table = ModbusTable::InputRegisters;
    int address = 0; // as on the wire, from 0
    ModbusType type = ModbusType::Bool;
    int decimals = 0; // int32 carries the value times 10^decimals
    bool writable = false;
    bool date = false; // a date-time, carried as seconds since 1970 like the block's

    int Width() const noexcept;
};

// The link figures of a unit's diagnostics block, in register order.
constexpr std::array<LinkFigure, 8> kModbusDiagnostics = {
    LinkFigure::LinkUp,         LinkFigure::Replies,      LinkFigure::NoAnswer,
    LinkFigure::ChecksumErrors, LinkFigure::Mismatches,   LinkFigure::Repeats,
    LinkFigure::LastReplyMs,    LinkFigure::LastGoodReply};

// Two items on one address of one unit's table; `item` is the later one.
class ModbusMapClash : public std::runtime_error {
public:
    ModbusMapClash(std::size_t item, const std::string& what)
        : std::runtime_error(what), item_(item) {}
    std::size_t Item() const noexcept { return item_; }

private:
    std::size_t item_;
};

// The map of a configuration that has a [modbus] section, in the configuration's item order.
// Throws ModbusMapClash.
std::vector<ModbusEntry> BuildModbusMap(const HostConfig& config);

bool IsRegisterTable(ModbusTable table) noexcept;
const char* ModbusTableName(ModbusTable table) noexcept;
const char* ModbusTypeName(ModbusType type) noexcept;

} // namespace vemox::host
