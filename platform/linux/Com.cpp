// Linux stand-ins for the OLE allocators: task memory is the C heap, and a BSTR keeps the
// OLE memory form so that code that walks its length prefix behaves as on Windows.
#include "platform/Com.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace vemox::platform {

void* SystemTaskMemAlloc(std::size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void TaskMemFree(void* block) noexcept {
    std::free(block);
}

BSTR AllocBstr(std::u16string_view text) {
    const std::size_t bytes = text.size() * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint32_t) + bytes + 2));
    if (!block) {
        throw std::bad_alloc();
    }
    const auto length = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &length, sizeof length);
    auto* units = reinterpret_cast<BSTR>(block + sizeof length);
    if (!text.empty()) {
        std::memcpy(units, text.data(), bytes);
    }
    units[text.size()] = 0;
    return units;
}

void FreeBstr(BSTR text) noexcept {
    if (text) {
        std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint32_t));
    }
}

std::u16string_view BstrView(BSTR text) noexcept {
    if (!text) {
        return {};
    }
    std::uint32_t bytes = 0;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - sizeof bytes, sizeof bytes);
    return {text, bytes / sizeof(OLECHAR)};
}

void VariantInitialize(VARIANT& value) noexcept {
    std::memset(&value, 0, sizeof value);
    value.vt = VT_EMPTY;
}

void VariantRelease(VARIANT& value) noexcept {
    if (value.vt == VT_BSTR) {
        FreeBstr(value.bstrVal);
    } else if ((value.vt == VT_UNKNOWN || value.vt == VT_DISPATCH) && value.punkVal) {
        value.punkVal->Release();
    }
    VariantInitialize(value);
}

void VariantCopyFrom(VARIANT& target, const VARIANT& source) {
    if (&target == &source) {
        return;
    }
    VARIANT copy = source;
    if (source.vt == VT_BSTR && source.bstrVal) {
        copy.bstrVal = AllocBstr(BstrView(source.bstrVal));
    } else if ((source.vt == VT_UNKNOWN || source.vt == VT_DISPATCH) && source.punkVal) {
        source.punkVal->AddRef();
    }
    VariantRelease(target);
    target = copy;
}

} // namespace vemox::platform
