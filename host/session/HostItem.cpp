#include "host/session/HostItem.h"

#include "platform/Com.h"

#include <utility>

namespace vemox::host {

HostItem::HostItem(std::string name) : name_(std::move(name)) {
    platform::VariantInitialize(state_.vDataValue);
    platform::VariantInitialize(writeState_.vDataValue);
    platform::VariantInitialize(shown_.vDataValue);
}

HostItem::~HostItem() {
    platform::VariantRelease(state_.vDataValue);
    platform::VariantRelease(writeState_.vDataValue);
    platform::VariantRelease(shown_.vDataValue);
}

HRESULT HostItem::QueryInterface(REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (SameGuid(riid, IID_IKibItem) || SameGuid(riid, IID_IUnknown_)) {
        *object = static_cast<IKibItem*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

HRESULT HostItem::AddChild(TItemAttributes, std::int32_t, std::int32_t, PItemProperties,
                           IKibDriver3*, IKibItem** child) {
    if (child) {
        *child = nullptr;
    }
    return E_NOTIMPL;
}

std::uint32_t HostItem::BeginTask() {
    outstanding_ = nextTransact_++;
    syncResult_ = S_OK;
    return outstanding_;
}

void HostItem::Complete(std::uint32_t transactId, HRESULT result) {
    // A completion for a task this item no longer waits for (a stray transaction) is
    // counted as completed all the same: the driver did finish a task of this item.
    if (transactId == outstanding_) {
        outstanding_ = 0;
    }
    lastResult_ = result;
    ++counts_.completed;
    if (result < 0) {
        ++counts_.failed;
    }
}

void HostItem::ReadComplete(std::uint32_t transactId, HRESULT result) {
    shown_.hClient = state_.hClient;
    shown_.ftTimeStamp = state_.ftTimeStamp;
    shown_.wQuality = state_.wQuality;
    platform::VariantCopyFrom(shown_.vDataValue, state_.vDataValue);
    ++counts_.reads;
    Complete(transactId, result);
}

void HostItem::WriteComplete(std::uint32_t transactId, HRESULT result) {
    Complete(transactId, result);
}

// Reported once per completed task; per item every report counts, whether or not the
// task was the first of a shared exchange. The driver counts the repeats of an answered
// exchange, but all the writes of an unanswered one; the host shows repeats in both cases.
void HostItem::ReportExchange(std::uint32_t answered, std::uint32_t retries, std::uint8_t) {
    if (answered) {
        ++counts_.answered;
        counts_.repeats += retries;
    } else {
        ++counts_.unanswered;
        counts_.repeats += retries > 0 ? retries - 1 : 0;
    }
}

} // namespace vemox::host
