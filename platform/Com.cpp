// Task memory with its test hook, and constructors of owned VARIANTs, shared by every platform.
#include "platform/Com.h"

#include <atomic>

namespace vemox::platform {

void* SystemTaskMemAlloc(std::size_t size) noexcept;

namespace {
int gFailingAllocations = 0;
// Pages may allocate from their own thread, so the tally is atomic.
std::atomic<std::uint64_t> gBytesHandedOut{0};
} // namespace

void FailTaskMemAllocations(int count) noexcept {
    gFailingAllocations = count;
}

void* TaskMemAlloc(std::size_t size) noexcept {
    if (gFailingAllocations > 0) {
        --gFailingAllocations;
        return nullptr;
    }
    void* block = SystemTaskMemAlloc(size);
    if (block) {
        gBytesHandedOut.fetch_add(size, std::memory_order_relaxed);
    }
    return block;
}

std::uint64_t TaskMemBytesHandedOut() noexcept {
    return gBytesHandedOut.load(std::memory_order_relaxed);
}

Variant Variant::Null() {
    Variant v;
    v.value_.vt = VT_NULL;
    return v;
}

Variant Variant::Int32(std::int32_t x) {
    Variant v;
    v.value_.vt = VT_I4;
    v.value_.lVal = x;
    return v;
}

Variant Variant::Int64(std::int64_t x) {
    Variant v;
    v.value_.vt = VT_I8;
    v.value_.llVal = x;
    return v;
}

Variant Variant::Double(double x) {
    Variant v;
    v.value_.vt = VT_R8;
    v.value_.dblVal = x;
    return v;
}

Variant Variant::Bool(bool x) {
    Variant v;
    v.value_.vt = VT_BOOL;
    v.value_.boolVal = x ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

Variant Variant::Date(double x) {
    Variant v;
    v.value_.vt = VT_DATE;
    v.value_.date = x;
    return v;
}

Variant Variant::Text(std::u16string_view text) {
    Variant v;
    v.value_.bstrVal = AllocBstr(text);
    v.value_.vt = VT_BSTR;
    return v;
}

} // namespace vemox::platform
