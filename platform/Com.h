// Task memory, BSTR and VARIANT life cycle, and the RAII owners used everywhere above.
#pragma once

#include "platform/Types.h"

#include <string>
#include <string_view>
#include <utility>

namespace vemox::platform {

// COM task memory: CoTaskMemAlloc/CoTaskMemFree on Windows, malloc/free on Linux.
void* TaskMemAlloc(std::size_t size) noexcept;
void TaskMemFree(void* block) noexcept;
// Makes the next `count` task-memory allocations fail, so tests can see memory run out.
void FailTaskMemAllocations(int count) noexcept;
// Bytes of task memory handed out since the process started, for memory measurements.
std::uint64_t TaskMemBytesHandedOut() noexcept;

// BSTR in the OLE memory form: 32-bit byte length before the text, terminating 0 after it.
BSTR AllocBstr(std::u16string_view text);
void FreeBstr(BSTR text) noexcept;
std::u16string_view BstrView(BSTR text) noexcept;

void VariantInitialize(VARIANT& value) noexcept;
void VariantRelease(VARIANT& value) noexcept; // frees what the value owns; leaves VT_EMPTY
void VariantCopyFrom(VARIANT& target, const VARIANT& source); // deep copy; target released first

// Owns one VARIANT: cleared on destruction, deep-copied on copy.
class Variant {
public:
    Variant() noexcept { VariantInitialize(value_); }
    explicit Variant(const VARIANT& source) : Variant() { VariantCopyFrom(value_, source); }
    Variant(const Variant& other) : Variant() { VariantCopyFrom(value_, other.value_); }
    Variant(Variant&& other) noexcept : value_(other.value_) { VariantInitialize(other.value_); }
    Variant& operator=(const Variant& other) {
        if (this != &other) {
            VariantCopyFrom(value_, other.value_);
        }
        return *this;
    }
    Variant& operator=(Variant&& other) noexcept {
        if (this != &other) {
            VariantRelease(value_);
            value_ = other.value_;
            VariantInitialize(other.value_);
        }
        return *this;
    }
    ~Variant() { VariantRelease(value_); }

    static Variant Empty() { return Variant(); }
    static Variant Null();
    static Variant Int32(std::int32_t v);
    static Variant Int64(std::int64_t v);
    static Variant Double(double v);
    static Variant Bool(bool v);
    static Variant Date(double v);
    static Variant Text(std::u16string_view text);

    VARIANT& get() noexcept { return value_; }
    const VARIANT& get() const noexcept { return value_; }
    VARTYPE type() const noexcept { return value_.vt; }
    // Hands ownership of the contents to the caller.
    VARIANT release() noexcept {
        VARIANT out = value_;
        VariantInitialize(value_);
        return out;
    }

private:
    VARIANT value_;
};

// Holds one counted reference to a COM interface and releases it once.
template <typename T> class ComRef {
public:
    ComRef() noexcept = default;
    explicit ComRef(T* raw) noexcept : raw_(raw) {
        if (raw_) {
            raw_->AddRef();
        }
    }
    ComRef(const ComRef& other) noexcept : ComRef(other.raw_) {}
    ComRef(ComRef&& other) noexcept : raw_(std::exchange(other.raw_, nullptr)) {}
    ComRef& operator=(ComRef other) noexcept {
        std::swap(raw_, other.raw_);
        return *this;
    }
    ~ComRef() { reset(); }

    // Takes over a reference the caller already owns (as QueryInterface hands out).
    static ComRef Adopt(T* raw) noexcept {
        ComRef ref;
        ref.raw_ = raw;
        return ref;
    }
    void reset() noexcept {
        if (T* old = std::exchange(raw_, nullptr)) {
            old->Release();
        }
    }
    T* get() const noexcept { return raw_; }
    T* operator->() const noexcept { return raw_; }
    explicit operator bool() const noexcept { return raw_ != nullptr; }

private:
    T* raw_ = nullptr;
};

// Asks an interface for another one; an empty reference when it is not offered.
template <typename Target> ComRef<Target> QueryAs(IUnknown* source, const IID& iid) noexcept {
    if (!source) {
        return {};
    }
    void* out = nullptr;
    if (source->QueryInterface(iid, &out) < 0 || !out) {
        return {};
    }
    return ComRef<Target>::Adopt(static_cast<Target*>(out));
}

} // namespace vemox::platform
