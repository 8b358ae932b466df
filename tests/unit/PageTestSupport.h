// What the page tests share: recorded message boxes, a fixed clock, readable records of what a
// page handed to the host, and pages built on headless windows.
#pragma once

#include "config/PageSupport.h"
#include "config/PropertySet.h"
#include "contract/PluginInterface.h"
#include "fakes/HostFakes.h"
#include "platform/Clock.h"
#include "platform/HeadlessControls.h"
#include "platform/MessageBox.h"
#include "platform/SerialPorts.h"
#include "platform/Text.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace vemox::testing {

struct Box {
    std::string text;
    std::string caption;
    std::uint32_t flags;
};

// Catches every message box for as long as it lives.
class BoxRecorder {
public:
    BoxRecorder() {
        previous_ = platform::SetMessageBoxHook([this](std::u16string_view text,
                                                       std::u16string_view caption,
                                                       std::uint32_t flags) {
            boxes.push_back({platform::Utf16ToUtf8(text), platform::Utf16ToUtf8(caption), flags});
        });
    }
    ~BoxRecorder() { platform::SetMessageBoxHook(previous_); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    std::vector<Box> boxes;

private:
    platform::MessageBoxHook previous_;
};

// Replaces the system's serial-port list for as long as it lives.
class PortList {
public:
    explicit PortList(std::vector<std::u16string> names) {
        previous_ = platform::SetSerialPortSource([names] { return names; });
    }
    ~PortList() { platform::SetSerialPortSource(previous_); }
    PortList(const PortList&) = delete;
    PortList& operator=(const PortList&) = delete;

private:
    platform::SerialPortSource previous_;
};

class FixedClock final : public platform::ClockSource {
public:
    explicit FixedClock(double local) : local_(local) { platform::SetClockSource(this); }
    ~FixedClock() override { platform::SetClockSource(nullptr); }
    FixedClock(const FixedClock&) = delete;
    FixedClock& operator=(const FixedClock&) = delete;
    double LocalNow() const override { return local_; }
    FILETIME UtcNow() const override { return FILETIME{}; }

private:
    double local_;
};

// One value as "type:value", so that a whole set compares in one expectation.
inline std::string ValueText(const VARIANT& v) {
    switch (v.vt) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_NULL:
        return "NULL";
    case VT_I4:
        return "I4:" + std::to_string(v.lVal);
    case VT_I8:
        return "I8:" + std::to_string(v.llVal);
    case VT_BOOL:
        return "BOOL:" + std::to_string(v.boolVal);
    case VT_BSTR:
        return "BSTR:" + platform::Utf16ToUtf8(reinterpret_cast<const char16_t*>(v.bstrVal));
    case VT_DATE:
        return "DATE:" + std::to_string(v.date);
    default:
        return "vt" + std::to_string(v.vt);
    }
}

// One record as the host sees it: ID, declared type, description and value.
struct Record {
    std::int32_t id;
    int declared;
    std::string description;
    std::string value;
    bool operator==(const Record& o) const {
        return id == o.id && declared == o.declared && description == o.description &&
               value == o.value;
    }
};

inline std::ostream& operator<<(std::ostream& out, const Record& r) {
    return out << "{" << r.id << ", " << r.declared << ", " << r.description << ", " << r.value
               << "}";
}

// Reads a set the way the host does, and checks the fields every record must leave empty.
inline std::vector<Record> Records(PItemProperties props) {
    std::vector<Record> out;
    const TItemProperty* first = props ? *props : nullptr;
    for (std::int32_t i = 0; i < DynArrayLength(first); ++i) {
        const TItemProperty& p = first[i];
        const bool clean = p.wReserved == 0 && p.hrErrorID == 0 && p.dwReserved == 0 &&
                           ShortStringView(p.szItemID).empty();
        out.push_back({static_cast<std::int32_t>(p.dwPropertyID), p.vtDataType,
                       platform::Utf16ToUtf8(ShortStringView(p.szDescription)),
                       clean ? ValueText(p.vValue) : "unclean record"});
    }
    return out;
}

// What one AddChild or UpdateItem call handed over.
struct HostCall {
    bool add = false;
    std::string name;
    BOOL active = 0;
    std::uint32_t rights = 0;
    int requested = -1;
    int canonical = -1;
    std::string euInfo;
    std::int32_t kind = 0;
    std::int32_t flags = 0;
    IKibDriver3* driver = nullptr;
    std::vector<Record> records;
};

// Records every save the fake host object receives and answers with `answer`.
inline void RecordSaves(FakeItem& item, std::vector<HostCall>& calls) {
    auto describe = [&calls](bool add, const TItemAttributes& a, PItemProperties p) {
        HostCall c;
        c.add = add;
        c.name = platform::Utf16ToUtf8(ShortStringView(a.szItemID));
        c.active = a.bActive;
        c.rights = a.dwAccessRights;
        c.requested = a.vtRequestedDataType;
        c.canonical = a.vtCanonicalDataType;
        c.euInfo = ValueText(a.vEUInfo);
        c.records = Records(p);
        calls.push_back(c);
    };
    item.onAddChild = [&item, &calls, describe](const TItemAttributes& a, std::int32_t kind,
                                                std::int32_t flags, PItemProperties p,
                                                IKibDriver3* driver) {
        describe(true, a, p);
        calls.back().kind = kind;
        calls.back().flags = flags;
        calls.back().driver = driver;
        return item.answer;
    };
    item.onUpdateItem = [&item, describe](const TItemAttributes& a, PItemProperties p) {
        describe(false, a, p);
        return item.answer;
    };
}

inline platform::HeadlessPage& Headless(platform::PageWindow& window) {
    return dynamic_cast<platform::HeadlessPage&>(window);
}

// The driver's own pages have real windows where there is a window system.
inline bool SystemPagesAreHeadless() {
    return dynamic_cast<platform::HeadlessPage*>(platform::CreateSystemPage(1, 1).get()) != nullptr;
}

inline KibShortString* ShortText(std::u16string_view text, KibShortString& target) {
    GetShortString(text, target);
    return &target;
}

inline WindowHandle HostWindow(std::uintptr_t n) {
    return reinterpret_cast<WindowHandle>(n);
}

} // namespace vemox::testing
