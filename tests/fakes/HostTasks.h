// What a host hands the driver with a task: node and item property sets, the item state the
// driver fills, the result slot of a synchronous task, and the item object. One HostTask per
// task keeps all of them alive for as long as the driver may touch them.
#pragma once

#include "config/PropertySet.h"
#include "contract/Constants.h"
#include "contract/PluginInterface.h"
#include "driver/Registry.h"
#include "fakes/HostFakes.h"
#include "platform/Com.h"

#include <cstdint>
#include <initializer_list>
#include <string_view>
#include <utility>
#include <vector>

namespace vemox::testing {

using PropertyValues = std::initializer_list<std::pair<std::int32_t, platform::Variant>>;

// A property set with exactly these records, in this order (declared types do not matter to
// the driver's readers).
inline PropertySet Properties(PropertyValues values) {
    PropertySet set;
    for (const auto& [id, value] : values) {
        set.Append(id, value.type(), u"", value);
    }
    return set;
}

inline PropertySet NetworkNode(std::int32_t port, std::int64_t address) {
    return Properties({{kPropComPort, platform::Variant::Int32(port)},
                       {kPropUseAddress, platform::Variant::Bool(true)},
                       {kPropAddress, platform::Variant::Int64(address)},
                       {kPropSerial, platform::Variant::Int64(1)}});
}

inline PropertySet SerialNode(std::int32_t port, std::int64_t serial) {
    return Properties({{kPropComPort, platform::Variant::Int32(port)},
                       {kPropUseAddress, platform::Variant::Bool(false)},
                       {kPropAddress, platform::Variant::Int64(1)},
                       {kPropSerial, platform::Variant::Int64(serial)}});
}

// An item of the operation, with one parameter record when id is not 0.
inline PropertySet Item(std::u16string_view operation, std::int32_t id = 0,
                        std::int32_t parameter = 0) {
    PropertySet set = Properties({{kPropOperation, platform::Variant::Text(operation)}});
    if (id != 0) {
        set.Append(id, VT_UI1, u"", platform::Variant::Int32(parameter));
    }
    return set;
}

struct HostTask {
    HostTask() { platform::VariantInitialize(state.vDataValue); }
    ~HostTask() { platform::VariantRelease(state.vDataValue); }
    HostTask(const HostTask&) = delete;
    HostTask& operator=(const HostTask&) = delete;

    // The task as the host hands it over; a write sends the value now in the item state.
    TTaskDef Def(TTask kind, std::uint32_t transactId, PropertySet& node, PropertySet& itemSet) {
        TTaskDef def{};
        def.Task = kind;
        def.Item = &item;
        def.TransactID = transactId;
        def.ptrItemState = &state;
        def.ptrNodeProperties = node.get();
        def.ptrItemProperties = itemSet.get();
        def.ptrResult = &result;
        return def;
    }
    void SetValue(const platform::Variant& value) {
        platform::VariantCopyFrom(state.vDataValue, value.get());
    }

    FakeItem item;
    OPCITEMSTATE state{};
    HRESULT result = static_cast<HRESULT>(0x7EADBEEF); // untouched until the driver answers
};

// The frames queued on a port, head first; empty when the port is unknown.
inline std::vector<std::vector<std::uint8_t>> QueuedFrames(TComPortNum port) {
    std::vector<std::vector<std::uint8_t>> frames;
    for (const TComPort& known : Ports) {
        if (known.Port != port) {
            continue;
        }
        for (const TCommand* command : known.Commands) {
            frames.emplace_back(command->Data, command->Data + command->Size);
        }
    }
    return frames;
}

} // namespace vemox::testing
