// The item properties page: name, description, scan rate, the operation and, where the
// operation has one, its parameter on one of six panels that share one place.
#pragma once

#include "config/PageContext.h"
#include "config/PropertySet.h"
#include "contract/PluginInterface.h"
#include "platform/Com.h"
#include "platform/Controls.h"

#include <memory>
#include <string>

namespace vemox {

class TfmItemProps {
public:
    explicit TfmItemProps(PageContext& context,
                          const platform::PageWindowFactory& factory = platform::CreateSystemPage);
    TfmItemProps(const TfmItemProps&) = delete;
    TfmItemProps& operator=(const TfmItemProps&) = delete;

    // The page keeps its own copies of both sets: a reload or a save never reads a set that
    // the host may have freed since. A null item set means a new item.
    void Init(WindowHandle parentHandle, IKibItem* item, PItemProperties nodeProps,
              PItemProperties props);
    void SetItem(const KibShortString& itemName, PItemProperties nodeProps, PItemProperties props);

    void cbxOperationChange();
    void ChangeParams();
    bool edtNameItemKeyPress(char16_t key) const noexcept;

    void WMItemAdd() { SaveItem(false); }
    void WMItemUpdate() { SaveItem(true); }
    void WMItemReload();
    void WMPageDetach();

    platform::PageWindow& Window() noexcept { return *window_; }
    IKibItem* Item() const noexcept { return FItem.get(); }

private:
    void SaveItem(bool update);
    void OnMessage(std::uint32_t message);

    PageContext& context_;
    std::unique_ptr<platform::PageWindow> window_;

public:
    platform::TextField& edtNameItem;
    platform::TextField& edtDescriptItem;
    platform::SpinField& rxsScanRate;
    platform::ChoiceList& cbxOperation;
    platform::Panel& pnlEmpty;
    platform::Panel& pnlItemCounter;
    platform::Panel& pnlItemDigitalInput;
    platform::Panel& pnlItemDigitalOutput;
    platform::Panel& pnlItemWeightPoint;
    platform::Panel& pnlItemState;
    platform::Panel& pnlItemLinkDiagnostics;
    platform::SpinField& rxsItemCounter;
    platform::SpinField& rxsItemDigitalInput;
    platform::SpinField& rxsItemDigitalOutput;
    platform::SpinField& rxsItemWeightPoint;
    platform::ChoiceList& cbxItemWightPointLevel;
    platform::SpinField& rxsItemState;
    platform::ChoiceList& cbxItemLinkFigure;

    WindowHandle FParentHandle = nullptr;
    bool FInitial = false;
    std::u16string FItemName;

private:
    platform::ComRef<IKibItem> FItem;
    PropertySet FNodeProps;
    PropertySet FProps;
};

} // namespace vemox
