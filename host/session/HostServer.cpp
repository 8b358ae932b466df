#include "host/session/HostServer.h"

#include "platform/Text.h"

namespace vemox::host {

HRESULT HostServer::QueryInterface(REFIID riid, void** object) {
    if (!object) {
        return E_POINTER;
    }
    *object = nullptr;
    if (SameGuid(riid, IID_IKibOPCServer2) || SameGuid(riid, IID_IKibOPCServer) ||
        SameGuid(riid, IID_IUnknown_)) {
        *object = static_cast<IKibOPCServer2*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

void HostServer::SaveConfig(const KibShortString& key, const KibShortString& value) {
    const std::u16string name(ShortStringView(key));
    const std::u16string text(ShortStringView(value));
    for (auto& pair : settings_) {
        if (pair.first == name) {
            pair.second = text;
            return;
        }
    }
    settings_.emplace_back(name, text);
}

void HostServer::WriteLog(const KibShortString& line, std::int32_t) {
    if (sink_) {
        sink_(platform::Utf16ToUtf8(ShortStringView(line)));
    }
}

} // namespace vemox::host
