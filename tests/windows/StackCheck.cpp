#include "StackCheck.h"

#include <windows.h>

#include <memory>

namespace bare_host {

void ReportCall(const char* name, const CallRecord& record) {
    const std::int64_t removed = static_cast<std::int64_t>(record.argumentBytes) +
                                 (static_cast<std::int64_t>(record.espAfter) - record.expectedEsp);
    if (removed != record.argumentBytes) {
        ADD_FAILURE() << name << " removed " << removed << " bytes of arguments from the stack; "
                      << "stdcall removes " << record.argumentBytes;
    }
    const struct {
        const char* reg;
        std::uint32_t after;
        std::uint32_t before;
    } saved[] = {{"EBX", record.ebx, kSentinelEbx},
                 {"ESI", record.esi, kSentinelEsi},
                 {"EDI", record.edi, kSentinelEdi},
                 {"EBP", record.ebp, kSentinelEbp}};
    for (const auto& r : saved) {
        if (r.after != r.before) {
            ADD_FAILURE() << name << " did not keep the callee-saved register " << r.reg;
        }
    }
    // Compared with the state as the processor reported it back before the call.
    if (record.x87After != record.hostX87 ||
        (record.mxcsrAfter & ~0x3Fu) != (record.hostMxcsr & ~0x3Fu)) {
        ADD_FAILURE() << name << " left the host's floating-point state changed: x87 " << std::hex
                      << record.x87After << ", MXCSR " << record.mxcsrAfter;
    }
}

#if defined(__i386__)

// Where the trampoline keeps what it needs after a callee that may have moved the stack: the
// record of the innermost call (calls nest when the driver calls a host method that calls the
// driver again) and EAX.
extern "C" {
CallRecord* vemox_checked_current = nullptr;
std::uint32_t vemox_checked_eax = 0;
}

static_assert(offsetof(CallRecord, function) == 0 && offsetof(CallRecord, arguments) == 4 &&
              offsetof(CallRecord, argumentBytes) == 8 && offsetof(CallRecord, hostX87) == 12 &&
              offsetof(CallRecord, ownX87) == 14 && offsetof(CallRecord, hostMxcsr) == 16 &&
              offsetof(CallRecord, ownMxcsr) == 20 && offsetof(CallRecord, savedEsp) == 24 &&
              offsetof(CallRecord, expectedEsp) == 28 && offsetof(CallRecord, espAfter) == 32 &&
              offsetof(CallRecord, ebx) == 36 && offsetof(CallRecord, ebp) == 48 &&
              offsetof(CallRecord, x87After) == 52 && offsetof(CallRecord, mxcsrAfter) == 56 &&
              offsetof(CallRecord, eax) == 60 && offsetof(CallRecord, previous) == 64);

// uint32_t vemox_checked_call(CallRecord* record), cdecl.
__asm__(R"(
    .text
    .globl _vemox_checked_call
_vemox_checked_call:
    .intel_syntax noprefix
    push ebp
    push ebx
    push esi
    push edi
    mov eax, [esp+20]
    mov ecx, [_vemox_checked_current]
    mov [eax+64], ecx
    mov [_vemox_checked_current], eax
    mov [eax+24], esp

    # The host's floating-point state for the call, read back as the processor keeps it.
    fnstcw [eax+14]
    stmxcsr [eax+20]
    fnclex
    fldcw [eax+12]
    ldmxcsr [eax+16]
    fnstcw [eax+12]
    stmxcsr [eax+16]

    # The arguments, first at the lowest address, at 4 modulo 16: aligned to 4 bytes only.
    mov ecx, [eax+8]
    mov edx, esp
    sub edx, ecx
    and edx, -16
    sub edx, 12
    mov esp, edx
    add edx, ecx
    mov [eax+28], edx
    mov esi, [eax+4]
    mov edi, esp
    cld
    rep movsb

    # The object also in ECX, where a method compiled without stdcall looks for it, so that
    # such a method runs on and its stack use can be reported.
    mov ecx, [esp]
    mov ebx, [eax+36]
    mov esi, [eax+40]
    mov edi, [eax+44]
    mov ebp, [eax+48]
    call [eax]

    # The stack may be off now: everything is found again through the static pointer.
    mov [_vemox_checked_eax], eax
    mov eax, [_vemox_checked_current]
    mov [eax+32], esp
    mov [eax+36], ebx
    mov [eax+40], esi
    mov [eax+44], edi
    mov [eax+48], ebp
    fnstcw [eax+52]
    stmxcsr [eax+56]
    fnclex
    fldcw [eax+14]
    ldmxcsr [eax+20]
    mov ecx, [eax+64]
    mov [_vemox_checked_current], ecx
    mov ecx, [_vemox_checked_eax]
    mov [eax+60], ecx
    mov esp, [eax+24]
    mov eax, ecx
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
    .att_syntax prefix
)");

namespace {

// What a host method's entry knows of itself. The assembly reads `target` at offset 0.
struct ThunkInfo {
    void* target;
    void* const* table;
    std::string name;
};

// Whether p points at a fake host object laid out with this method table.
bool IsObjectOf(void* p, void* const* table) {
    MEMORY_BASIC_INFORMATION memory{};
    if (!p || ::VirtualQuery(p, &memory, sizeof memory) == 0 || memory.State != MEM_COMMIT ||
        (memory.Protect & (PAGE_NOACCESS | PAGE_GUARD)) != 0) {
        return false;
    }
    return *static_cast<void* const* const*>(p) == table;
}

} // namespace

// Answers 0 when the caller put the object on the stack (stdcall) and 1 when it put it in ECX
// only (the member-function convention a method gets without its stdcall marker); the entry
// then hands the object over as stdcall wants it, so that the run goes on to report more.
extern "C" int vemox_host_entry_check(const ThunkInfo* info, void* const* entry, void* ecx) {
    if (IsObjectOf(entry[1], info->table)) {
        return 0;
    }
    if (IsObjectOf(ecx, info->table)) {
        ADD_FAILURE() << "the driver called the host method " << info->name
                      << " with the object in ECX, not on the stack: not as stdcall";
        return 1;
    }
    ADD_FAILURE() << "the driver called the host method " << info->name
                  << " without the host object";
    return 0;
}

// The common part of every host method's entry; EAX holds the method's ThunkInfo.
__asm__(R"(
    .text
    .globl _vemox_host_entry
_vemox_host_entry:
    .intel_syntax noprefix
    push eax
    push ecx
    push ecx
    lea edx, [esp+12]
    push edx
    push eax
    call _vemox_host_entry_check
    add esp, 12
    pop ecx
    mov edx, eax
    pop eax
    test edx, edx
    jnz 1f
    jmp [eax]
1:
    pop edx
    push ecx
    push edx
    jmp [eax]
    .att_syntax prefix
)");

extern "C" void vemox_host_entry();

void* Thunk(const std::string& name, void* target, void* const* table) {
    // mov eax, info; jmp vemox_host_entry
    constexpr std::size_t kStubBytes = 10;
    static unsigned char* page = nullptr;
    static std::size_t used = 0;
    constexpr std::size_t kPageBytes = 4096;
    if (!page || used + kStubBytes > kPageBytes) {
        page = static_cast<unsigned char*>(
            ::VirtualAlloc(nullptr, kPageBytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE));
        used = 0;
    }
    // Lives as long as the program: the tables that point at the stub do.
    auto* info = new ThunkInfo{target, table, name};
    unsigned char* stub = page + used;
    used += kStubBytes;
    const auto infoAddress = reinterpret_cast<std::uint32_t>(info);
    const auto jump = reinterpret_cast<std::uint32_t>(&vemox_host_entry) -
                      reinterpret_cast<std::uint32_t>(stub + kStubBytes);
    stub[0] = 0xB8;
    std::memcpy(stub + 1, &infoAddress, 4);
    stub[5] = 0xE9;
    std::memcpy(stub + 6, &jump, 4);
    return stub;
}

#else

void* Thunk(const std::string&, void* target, void* const*) {
    return target;
}

#endif

} // namespace bare_host
