// The OLE allocators and VARIANT functions of Windows itself.
#include "platform/Com.h"

#include <new>

namespace vemox::platform {

void* SystemTaskMemAlloc(std::size_t size) noexcept {
    return ::CoTaskMemAlloc(size);
}

void TaskMemFree(void* block) noexcept {
    ::CoTaskMemFree(block);
}

BSTR AllocBstr(std::u16string_view text) {
    BSTR out = ::SysAllocStringLen(reinterpret_cast<const wchar_t*>(text.data()),
                                   static_cast<UINT>(text.size()));
    if (!out) {
        throw std::bad_alloc();
    }
    return out;
}

void FreeBstr(BSTR text) noexcept {
    ::SysFreeString(text);
}

std::u16string_view BstrView(BSTR text) noexcept {
    if (!text) {
        return {};
    }
    return {reinterpret_cast<const char16_t*>(text), ::SysStringLen(text)};
}

void VariantInitialize(VARIANT& value) noexcept {
    ::VariantInit(&value);
}

void VariantRelease(VARIANT& value) noexcept {
    ::VariantClear(&value);
    ::VariantInit(&value);
}

void VariantCopyFrom(VARIANT& target, const VARIANT& source) {
    if (&target == &source) {
        return;
    }
    VARIANT copy;
    ::VariantInit(&copy);
    const HRESULT hr = ::VariantCopy(&copy, const_cast<VARIANT*>(&source));
    if (FAILED(hr)) {
        throw std::bad_alloc();
    }
    VariantRelease(target);
    target = copy;
}

} // namespace vemox::platform
