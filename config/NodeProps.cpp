#include "config/NodeProps.h"

#include "config/Attributes.h"
#include "config/Encodings.h"
#include "config/PageSupport.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "platform/MessageBox.h"
#include "platform/SerialPorts.h"

#include <cmath>
#include <limits>

namespace vemox {
namespace {

constexpr int kLabelLeft = 8;
constexpr int kFieldLeft = 104;
constexpr int kRowHeight = 21;
constexpr int kIdentLeft = 202;

} // namespace

TfmNodeProps::TfmNodeProps(PageContext& context, const platform::PageWindowFactory& factory)
    : context_(context), window_(factory(kNodePageWidth, kNodePageHeight)),
      edtNameNode(window_->AddTextField({kFieldLeft, 8, 170, kRowHeight}, kHintNodeName)),
      edtDescriptNode(
          window_->AddTextField({kFieldLeft, 40, 170, kRowHeight}, kHintNodeDescription)),
      rxsScanRate(window_->AddSpinField({kFieldLeft, 72, 64, kRowHeight}, 0, 9999, kHintScanRate)),
      rxsDeviceAddress(
          window_->AddSpinField({kIdentLeft, 140, 73, kRowHeight}, kAddressMin, kAddressMax, u"")),
      cbxComPort(window_->AddChoiceList({kFieldLeft, 104, 90, 200})),
      rxsSerialNumber(
          window_->AddSpinField({kIdentLeft, 172, 73, kRowHeight}, kSerialMin, kSerialMax, u"")),
      rbtnUseAddress(window_->AddRadioButton({kLabelLeft, 142, 192, 17}, kLabelUseAddress, 1)),
      rbtnUseSerialNumber(window_->AddRadioButton({kLabelLeft, 174, 192, 17}, kLabelUseSerial, 1)) {
    window_->AddLabel({kLabelLeft, 11, 92, 15}, kLabelNodeName);
    window_->AddLabel({kLabelLeft, 43, 92, 15}, kLabelDescription);
    window_->AddLabel({kLabelLeft, 75, 92, 15}, kLabelScanRate);
    window_->AddLabel({kFieldLeft + 70, 75, 30, 15}, kLabelSeconds);
    window_->AddLabel({kLabelLeft, 107, 92, 15}, kLabelComPort);

    edtNameNode.SetText(kInitialNodeName);
    edtDescriptNode.SetText(kTextNodeDescription);
    rxsScanRate.SetValue(1);
    rxsDeviceAddress.SetValue(1);
    rxsSerialNumber.SetValue(1);
    rbtnUseAddress.SetChecked(true);
    rbtnNetworkIdentClick();

    for (platform::TextField* field :
         {&edtNameNode, &edtDescriptNode, static_cast<platform::TextField*>(&rxsScanRate),
          static_cast<platform::TextField*>(&rxsDeviceAddress),
          static_cast<platform::TextField*>(&rxsSerialNumber)}) {
        field->OnChange = [this] { ChangeParams(); };
    }
    edtNameNode.KeyFilter = [this](char16_t key) { return edtNameNodeKeyPress(key); };
    rbtnUseAddress.OnClick = [this] { rbtnNetworkIdentClick(); };
    rbtnUseSerialNumber.OnClick = [this] { rbtnNetworkIdentClick(); };
    window_->OnMessage = [this](std::uint32_t message) { OnMessage(message); };

    FillComPorts();
}

void TfmNodeProps::Init(WindowHandle parentHandle, IKibItem* item) {
    FParentHandle = parentHandle;
    FItem = platform::ComRef<IKibItem>(item);
}

void TfmNodeProps::SetNode(const KibShortString& nodeName, PItemProperties nodeProps) {
    // Copy before anything changes: a reload hands in the page's own copy.
    PropertySet copy = CopyProperties(nodeProps);
    std::u16string name = ShortStringText(nodeName);
    FInitial = true;
    try {
        FNodeName = std::move(name);
        FNodeProps = std::move(copy);
        PItemProperties props = FNodeProps.get();

        edtNameNode.SetText(FNodeName);
        if (auto description = PropertyText(kPropDescription, props)) {
            edtDescriptNode.SetText(*description);
        }
        if (auto rate = PropertyNumber(kPropScanRate, props)) {
            SetSpinValue(rxsScanRate, ScanRateMsToSeconds(*rate));
        }
        cbxComPort.Select(-1);
        if (auto index = PropertyNumber(kPropComPort, props)) {
            const double number = std::trunc(*index);
            if (number >= 0 && number < std::numeric_limits<std::int32_t>::max()) {
                const std::u16string wanted = PortNameOf(static_cast<std::int32_t>(number));
                for (int i = 0; i < cbxComPort.Count(); ++i) {
                    if (cbxComPort.ItemText(i) == wanted) {
                        cbxComPort.Select(i);
                    }
                }
            }
        }
        if (auto useAddress = PropertyIsTrue(kPropUseAddress, props)) {
            (*useAddress ? rbtnUseAddress : rbtnUseSerialNumber).SetChecked(true);
            rbtnNetworkIdentClick();
        }
        if (auto stored = PropertyNumber(kPropAddress, props)) {
            if (auto address = AcceptAddress(*stored)) {
                rxsDeviceAddress.SetValue(*address);
            }
        }
        if (auto stored = PropertyNumber(kPropSerial, props)) {
            if (auto serial = AcceptSerial(*stored)) {
                rxsSerialNumber.SetValue(*serial);
            }
        }
    } catch (...) {
        FInitial = false;
        throw;
    }
    FInitial = false;
}

void TfmNodeProps::ChangeParams() {
    if (FInitial || !FParentHandle) {
        return;
    }
    window_->Notify(FParentHandle,
                    edtNameNode.Text().empty() ? WM_NODE_CHANGED_EMPTY_NAME : WM_NODE_CHANGED);
}

bool TfmNodeProps::edtNameNodeKeyPress(char16_t key) const noexcept {
    return NameKeyAccepted(key);
}

void TfmNodeProps::rbtnNetworkIdentClick() {
    rxsDeviceAddress.SetEnabled(rbtnUseAddress.Checked());
    rxsSerialNumber.SetEnabled(rbtnUseSerialNumber.Checked());
}

void TfmNodeProps::WMNodeReload() {
    KibShortString name;
    GetShortString(FNodeName, name);
    SetNode(name, FNodeProps.get());
}

void TfmNodeProps::WMPageDetach() {
    FParentHandle = nullptr;
    window_->Detach();
    FItem.reset();
}

void TfmNodeProps::FillComPorts() {
    cbxComPort.Clear();
    for (const std::u16string& name : platform::ReadSerialPortNames()) {
        // Textual bounds: COM100 and COM1A pass as well, lower-case names do not.
        if (name >= kPortLowest && name <= kPortHighest) {
            cbxComPort.Add(name);
        }
    }
    if (cbxComPort.Count() > 0) {
        cbxComPort.Select(0);
    }
}

void TfmNodeProps::SaveNode(bool update) {
    // Held for the whole save: the host may detach the page from inside its own call.
    const platform::ComRef<IKibItem> item = FItem;
    if (!item) {
        return;
    }
    if (cbxComPort.Selected() < 0) {
        cbxComPort.SetFocus();
        platform::ShowMessageBox(kBoxSelectPort, kBoxAddNodeCaption, kPageBoxFlags);
        return;
    }
    ItemAttributes attributes = BuildNodeAttributes(edtNameNode.Text());
    NodeSettings node;
    node.description = edtDescriptNode.Text();
    node.scanRateSeconds = rxsScanRate.Value();
    node.portName = cbxComPort.SelectedText();
    node.useAddress = rbtnUseAddress.Checked();
    node.address = rxsDeviceAddress.Value();
    node.serial = rxsSerialNumber.Value();
    PropertySet properties = BuildNodeProperties(node);

    if (HandToHost(*item.get(), context_.Driver(), update, kChildNode, kChildNodeFlags,
                   attributes.get(), properties.get(), edtNameNode,
                   {kBoxNodeExists, kBoxBadNodeNameCaption, kBoxNodeAddFailed})) {
        window_->Notify(FParentHandle, WM_NODE_SAVED);
    }
}

void TfmNodeProps::OnMessage(std::uint32_t message) {
    try {
        switch (message) {
        case WM_NODE_ADD:
            WMNodeAdd();
            break;
        case WM_NODE_UPDATE:
            WMNodeUpdate();
            break;
        case WM_NODE_RELOAD:
            WMNodeReload();
            break;
        case WM_PAGE_DETACH:
            WMPageDetach();
            break;
        default:
            break;
        }
    } catch (...) {
        // A failure inside the host's message must not unwind through its message loop.
    }
}

} // namespace vemox
