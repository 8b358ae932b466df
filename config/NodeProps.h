// The node properties page: name, description, scan rate, serial port and how the controller
// is found on the line (network address or serial number).
#pragma once

#include "config/PageContext.h"
#include "config/PropertySet.h"
#include "contract/PluginInterface.h"
#include "platform/Com.h"
#include "platform/Controls.h"

#include <memory>
#include <string>

namespace vemox {

class TfmNodeProps {
public:
    explicit TfmNodeProps(PageContext& context,
                          const platform::PageWindowFactory& factory = platform::CreateSystemPage);
    TfmNodeProps(const TfmNodeProps&) = delete;
    TfmNodeProps& operator=(const TfmNodeProps&) = delete;

    void Init(WindowHandle parentHandle, IKibItem* item);
    // Shows an existing node. The page keeps its own copy of the name and the set, so that a
    // later reload never reads a set the host may have freed.
    void SetNode(const KibShortString& nodeName, PItemProperties nodeProps);

    void ChangeParams();
    bool edtNameNodeKeyPress(char16_t key) const noexcept;
    void rbtnNetworkIdentClick();

    void WMNodeAdd() { SaveNode(false); }
    void WMNodeUpdate() { SaveNode(true); }
    void WMNodeReload();
    void WMPageDetach();

    platform::PageWindow& Window() noexcept { return *window_; }
    IKibItem* Item() const noexcept { return FItem.get(); }

private:
    void FillComPorts();
    void SaveNode(bool update);
    void OnMessage(std::uint32_t message);

    PageContext& context_;
    std::unique_ptr<platform::PageWindow> window_;

public:
    platform::TextField& edtNameNode;
    platform::TextField& edtDescriptNode;
    platform::SpinField& rxsScanRate;
    platform::SpinField& rxsDeviceAddress;
    platform::ChoiceList& cbxComPort;
    platform::SpinField& rxsSerialNumber;
    platform::ToggleButton& rbtnUseAddress;
    platform::ToggleButton& rbtnUseSerialNumber;

    WindowHandle FParentHandle = nullptr;
    bool FInitial = false;
    std::u16string FNodeName;

private:
    platform::ComRef<IKibItem> FItem;
    PropertySet FNodeProps;
};

} // namespace vemox
