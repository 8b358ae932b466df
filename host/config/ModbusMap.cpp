#include "host/config/ModbusMap.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

namespace vemox::host {
namespace {

bool Scaled(const ItemConfig& item) {
    switch (item.operation->operation) {
    case Operation::NetWeight:
    case Operation::GrossWeight:
    case Operation::WeightPoints:
        return true;
    case Operation::Counter:
        return item.parameter == 1 || item.parameter == 3;
    default:
        return false;
    }
}

// The table and type an item is carried in, without its address.
ModbusEntry Place(const HostConfig& config, std::size_t index, bool writable) {
    const ItemConfig& item = config.items[index];
    ModbusEntry entry;
    entry.item = index;
    entry.writable = writable;
    const ModbusType number =
        config.modbus->format == ModbusFormat::Float32 ? ModbusType::Float32 : ModbusType::Int32;
    switch (item.operation->operation) {
    case Operation::DigitalInputs:
    case Operation::State:
        entry.table = ModbusTable::DiscreteInputs;
        break;
    case Operation::DigitalOutputs:
        entry.table = ModbusTable::Coils;
        break;
    case Operation::DosingControl:
        entry.table = ModbusTable::HoldingRegisters;
        entry.type = number;
        break;
    case Operation::WeightPoints:
        entry.table = writable ? ModbusTable::HoldingRegisters : ModbusTable::InputRegisters;
        entry.type = number;
        break;
    case Operation::LinkDiagnostics: {
        const auto figure = static_cast<LinkFigure>(item.parameter);
        if (figure == LinkFigure::Reset) {
            entry.table = ModbusTable::Coils;
        } else if (figure == LinkFigure::LinkUp) {
            entry.table = ModbusTable::DiscreteInputs;
        } else {
            entry.table = ModbusTable::InputRegisters;
            entry.type = ModbusType::Uint32;
            entry.date = figure == LinkFigure::LastGoodReply;
        }
        break;
    }
    default:
        entry.table = ModbusTable::InputRegisters;
        entry.type = number;
    }
    if (Scaled(item) && entry.type == ModbusType::Int32) {
        entry.decimals = config.FindNode(item.node)->decimals;
    }
    return entry;
}

std::size_t NodeIndex(const HostConfig& config, const std::string& name) {
    for (std::size_t i = 0; i < config.nodes.size(); ++i) {
        if (config.nodes[i].name == name) {
            return i;
        }
    }
    return 0;
}

using Space = std::pair<int, ModbusTable>; // one unit's table
struct Taken {
    int address;
    std::size_t item; // kDiagnostics for the diagnostics block
};
constexpr std::size_t kDiagnostics = static_cast<std::size_t>(-1);

constexpr int kDiagnosticsWidth =
    static_cast<int>(kModbusDiagnostics.size()) * kModbusRegistersPerValue;

int WidthOf(const Taken& taken, const std::vector<ModbusEntry>& entries) {
    return taken.item == kDiagnostics ? kDiagnosticsWidth : entries[taken.item].Width();
}

// What stands on [address, address + width) of `used`, if anything.
const Taken* Overlap(const std::vector<Taken>& used, int address, int width,
                     const std::vector<ModbusEntry>& entries) {
    for (const Taken& taken : used) {
        if (address < taken.address + WidthOf(taken, entries) && taken.address < address + width) {
            return &taken;
        }
    }
    return nullptr;
}

} // namespace

int ModbusEntry::Width() const noexcept {
    return IsRegisterTable(table) ? kModbusRegistersPerValue : 1;
}

std::vector<ModbusEntry> BuildModbusMap(const HostConfig& config) {
    const ModbusConfig& modbus = *config.modbus;
    const std::set<std::string> writable(modbus.writable.begin(), modbus.writable.end());
    std::vector<ModbusEntry> entries;
    std::map<Space, std::vector<Taken>> used;
    for (std::size_t i = 0; i < config.items.size(); ++i) {
        ModbusEntry entry = Place(config, i, writable.count(config.items[i].FullName()) > 0);
        entry.unit = modbus.unitIds[NodeIndex(config, config.items[i].node)];
        entries.push_back(entry);
    }
    for (const int unit : modbus.unitIds) {
        used[{unit, ModbusTable::InputRegisters}].push_back(
            {kModbusDiagnosticsAddress, kDiagnostics});
    }
    const auto name = [&](std::size_t item) {
        return item == kDiagnostics ? std::string("the unit's diagnostics block")
                                    : "'" + config.items[item].FullName() + "'";
    };
    // Addresses given in the file first, so that the others fill around them.
    for (ModbusEntry& entry : entries) {
        const auto& given = config.items[entry.item].modbusAddress;
        if (!given) {
            continue;
        }
        entry.address = *given;
        std::vector<Taken>& space = used[{entry.unit, entry.table}];
        if (entry.address + entry.Width() - 1 > kModbusLastAddress) {
            throw ModbusMapClash(entry.item, "modbus = " + std::to_string(entry.address) +
                                                 ": the value's two registers pass 65535");
        }
        if (const Taken* clash = Overlap(space, entry.address, entry.Width(), entries)) {
            throw ModbusMapClash(entry.item, "modbus = " + std::to_string(entry.address) + ": '" +
                                                 config.items[entry.item].FullName() + "' and " +
                                                 name(clash->item) + " share " +
                                                 ModbusTableName(entry.table) + " of unit " +
                                                 std::to_string(entry.unit));
        }
        space.push_back({entry.address, entry.item});
    }
    std::map<Space, int> next;
    for (ModbusEntry& entry : entries) {
        if (config.items[entry.item].modbusAddress) {
            continue;
        }
        std::vector<Taken>& space = used[{entry.unit, entry.table}];
        int address = next[{entry.unit, entry.table}];
        while (const Taken* clash = Overlap(space, address, entry.Width(), entries)) {
            address = clash->address + WidthOf(*clash, entries);
        }
        if (address + entry.Width() - 1 > kModbusLastAddress) {
            throw ModbusMapClash(entry.item, "'" + config.items[entry.item].FullName() +
                                                 "' finds no free address in " +
                                                 ModbusTableName(entry.table));
        }
        entry.address = address;
        next[{entry.unit, entry.table}] = address + entry.Width();
        space.push_back({address, entry.item});
    }
    return entries;
}

bool IsRegisterTable(ModbusTable table) noexcept {
    return table == ModbusTable::HoldingRegisters || table == ModbusTable::InputRegisters;
}

const char* ModbusTableName(ModbusTable table) noexcept {
    switch (table) {
    case ModbusTable::Coils:
        return "coils";
    case ModbusTable::DiscreteInputs:
        return "discrete inputs";
    case ModbusTable::HoldingRegisters:
        return "holding registers";
    default:
        return "input registers";
    }
}

const char* ModbusTypeName(ModbusType type) noexcept {
    switch (type) {
    case ModbusType::Bool:
        return "bool";
    case ModbusType::Float32:
        return "float32";
    case ModbusType::Int32:
        return "int32";
    default:
        return "uint32";
    }
}

} // namespace vemox::host
