// Calls across the host boundary with the 32-bit calling convention checked. In 32-bit code
// stdcall has the callee remove its arguments from the stack and keep EBX, ESI, EDI and EBP;
// a method that lost its convention compiles and links and then corrupts the caller's stack
// only at run time. Each checked driver call runs through an assembly trampoline that hands
// the arguments over on a stack aligned to 4 bytes only (as Windows guarantees no more), in
// the floating-point state of a host with exceptions unmasked, and reports the method by name
// when the callee removed other than the stdcall argument bytes, changed a callee-saved
// register or left the floating-point state changed. Each host method the driver calls is
// entered through a thunk that finds the object where stdcall puts it, on the stack.
// In 64-bit code there is one convention; the calls are made plainly there.
#pragma once

#include "BareHost.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace bare_host {

constexpr bool kStackChecked = sizeof(void*) == 4;

// What the trampoline is handed and what it found; the assembly relies on this layout.
struct CallRecord {
    void* function;
    const void* arguments;
    std::uint32_t argumentBytes;
    std::uint16_t hostX87;
    std::uint16_t ownX87;
    std::uint32_t hostMxcsr;
    std::uint32_t ownMxcsr;
    std::uint32_t savedEsp;
    std::uint32_t expectedEsp;
    std::uint32_t espAfter;
    std::uint32_t ebx, esi, edi, ebp; // the sentinels before the call, the values after it
    std::uint16_t x87After;
    std::uint16_t unused;
    std::uint32_t mxcsrAfter;
    std::uint32_t eax;
    CallRecord* previous;
};

// The values the trampoline puts into the callee-saved registers before each call.
constexpr std::uint32_t kSentinelEbx = 0xB0B0B0B0;
constexpr std::uint32_t kSentinelEsi = 0x51515151;
constexpr std::uint32_t kSentinelEdi = 0xD1D1D1D1;
constexpr std::uint32_t kSentinelEbp = 0xE8E8E8E8;

// A host as several runtimes leave their threads: x87 at extended precision with invalid,
// zero-divide and overflow unmasked, and the same three unmasked in MXCSR.
constexpr std::uint16_t kHostX87 = 0x1332;
constexpr std::uint32_t kHostMxcsr = 0x1900;

extern "C" std::uint32_t vemox_checked_call(CallRecord* record);

// Reports, naming the method, what the call did against the convention.
void ReportCall(const char* name, const CallRecord& record);

template <typename Fn> struct FnTraits;
template <typename R, typename... P> struct FnTraits<R(__stdcall*)(P...)> {
    using Result = R;
    // The arguments as a stdcall caller lays them out: first at the lowest address, each
    // taking a multiple of four bytes.
    template <typename... A> static std::vector<unsigned char> Pack(A... arguments) {
        std::vector<unsigned char> out;
        (Append<P>(out, arguments), ...);
        return out;
    }
    template <typename T, typename A> static void Append(std::vector<unsigned char>& out, A a) {
        const T value = a;
        const std::size_t at = out.size();
        out.resize(at + (sizeof(T) + 3) / 4 * 4);
        std::memcpy(out.data() + at, &value, sizeof(T));
    }
};

// Calls `function`, checked where it counts; the first argument is the object for a method.
template <typename Fn, typename... A>
typename FnTraits<Fn>::Result Invoke(const char* name, Fn function, A... arguments) {
    using Result = typename FnTraits<Fn>::Result;
    if constexpr (!kStackChecked) {
        return function(arguments...);
    } else {
        const std::vector<unsigned char> packed = FnTraits<Fn>::Pack(arguments...);
        CallRecord record{};
        record.function = reinterpret_cast<void*>(function);
        record.arguments = packed.data();
        record.argumentBytes = static_cast<std::uint32_t>(packed.size());
        record.hostX87 = kHostX87;
        record.hostMxcsr = kHostMxcsr;
        record.ebx = kSentinelEbx;
        record.esi = kSentinelEsi;
        record.edi = kSentinelEdi;
        record.ebp = kSentinelEbp;
        const std::uint32_t eax = vemox_checked_call(&record);
        ReportCall(name, record);
        if constexpr (!std::is_void_v<Result>) {
            Result result;
            std::memcpy(&result, &eax, sizeof result); // the low bytes of EAX
            return result;
        }
    }
}

// Calls slot `slot` of `object` with the arguments after the object.
template <typename Fn, typename... A>
typename FnTraits<Fn>::Result Call(const char* name, void* object, int slot, A... arguments) {
    return Invoke(name, Slot<Fn>(object, slot), object, arguments...);
}

// An entry for `target` that checks its caller before going on to it (`target` itself in
// 64-bit code). `table` is the method table whose objects the entry belongs to.
void* Thunk(const std::string& name, void* target, void* const* table);

// A copy of a fake method table whose entries check how the driver called them.
template <int Methods> struct CheckedTable {
    void* slots[FakeTable<Methods>::kSlots];
    explicit CheckedTable(const FakeTable<Methods>& plain) {
        for (int i = 0; i < FakeTable<Methods>::kSlots; ++i) {
            slots[i] = Thunk(plain.names[i], plain.slots[i], slots);
        }
    }
};

} // namespace bare_host
