#include "config/ItemProps.h"

#include "config/Attributes.h"
#include "config/Encodings.h"
#include "config/PageSupport.h"
#include "config/PropertySets.h"
#include "contract/Constants.h"
#include "contract/Operations.h"
#include "platform/MessageBox.h"

namespace vemox {
namespace {

constexpr int kLabelLeft = 8;
constexpr int kFieldLeft = 120;
constexpr int kRowHeight = 21;
constexpr platform::Rect kPanelPlace{8, 144, 297, 33};
constexpr platform::Rect kPanelField{112, 8, 57, kRowHeight};
constexpr platform::Rect kPanelLabel{0, 11, 108, 15};

} // namespace

TfmItemProps::TfmItemProps(PageContext& context, const platform::PageWindowFactory& factory)
    : context_(context), window_(factory(kItemPageWidth, kItemPageHeight)),
      edtNameItem(window_->AddTextField({kFieldLeft, 16, 185, kRowHeight}, kHintItemName)),
      edtDescriptItem(
          window_->AddTextField({kFieldLeft, 48, 185, kRowHeight}, kHintItemDescription)),
      rxsScanRate(window_->AddSpinField({kFieldLeft, 88, 56, kRowHeight}, 0, 9999, kHintScanRate)),
      cbxOperation(window_->AddChoiceList({kFieldLeft, 120, 185, 200})),
      pnlEmpty(window_->AddPanel(kPanelPlace)), pnlItemCounter(window_->AddPanel(kPanelPlace)),
      pnlItemDigitalInput(window_->AddPanel(kPanelPlace)),
      pnlItemDigitalOutput(window_->AddPanel(kPanelPlace)),
      pnlItemWeightPoint(window_->AddPanel(kPanelPlace)),
      pnlItemState(window_->AddPanel(kPanelPlace)),
      pnlItemLinkDiagnostics(window_->AddPanel(kPanelPlace)),
      rxsItemCounter(window_->AddSpinField(kPanelField, 0, 9, u"", &pnlItemCounter)),
      rxsItemDigitalInput(window_->AddSpinField(kPanelField, 0, 15, u"", &pnlItemDigitalInput)),
      rxsItemDigitalOutput(window_->AddSpinField(kPanelField, 0, 15, u"", &pnlItemDigitalOutput)),
      rxsItemWeightPoint(window_->AddSpinField(kPanelField, 0, 8, u"", &pnlItemWeightPoint)),
      cbxItemWightPointLevel(window_->AddChoiceList({184, 8, 113, 100}, &pnlItemWeightPoint)),
      rxsItemState(window_->AddSpinField(kPanelField, 0, 7, u"", &pnlItemState)),
      cbxItemLinkFigure(window_->AddChoiceList({112, 8, 185, 250}, &pnlItemLinkDiagnostics)) {
    window_->AddLabel({kLabelLeft, 19, 110, 15}, kLabelItemName);
    window_->AddLabel({kLabelLeft, 51, 110, 15}, kLabelDescription);
    window_->AddLabel({kLabelLeft, 91, 110, 15}, kLabelScanRate);
    window_->AddLabel({kLabelLeft, 123, 110, 15}, kLabelOperation);
    window_->AddLabel(kPanelLabel, kLabelCounter, &pnlItemCounter);
    window_->AddLabel(kPanelLabel, kLabelInput, &pnlItemDigitalInput);
    window_->AddLabel(kPanelLabel, kLabelOutput, &pnlItemDigitalOutput);
    window_->AddLabel(kPanelLabel, kLabelWeightPoint, &pnlItemWeightPoint);
    window_->AddLabel(kPanelLabel, kLabelStateBit, &pnlItemState);
    window_->AddLabel(kPanelLabel, kLabelLinkFigure, &pnlItemLinkDiagnostics);

    edtNameItem.SetText(kInitialItemName);
    rxsScanRate.SetValue(1);
    rxsItemCounter.SetValue(1);
    rxsItemDigitalInput.SetValue(0);
    rxsItemDigitalOutput.SetValue(0);
    rxsItemWeightPoint.SetValue(1);
    cbxItemWightPointLevel.Add(kLevelLower);
    cbxItemWightPointLevel.Add(kLevelUpper);
    cbxItemWightPointLevel.Select(0);
    rxsItemState.SetValue(0);
    for (int i = 0; i < kLinkFigureCount; ++i) {
        cbxItemLinkFigure.Add(FindLinkFigure(i)->caption);
    }
    cbxItemLinkFigure.Select(0);
    pnlEmpty.BringToFront();

    for (platform::TextField* field :
         {&edtNameItem, &edtDescriptItem, static_cast<platform::TextField*>(&rxsScanRate)}) {
        field->OnChange = [this] { ChangeParams(); };
    }
    edtNameItem.KeyFilter = [this](char16_t key) { return edtNameItemKeyPress(key); };
    cbxOperation.OnChange = [this] { cbxOperationChange(); };
    window_->OnMessage = [this](std::uint32_t message) { OnMessage(message); };
}

void TfmItemProps::Init(WindowHandle parentHandle, IKibItem* item, PItemProperties nodeProps,
                        PItemProperties props) {
    PropertySet nodeCopy = CopyProperties(nodeProps);
    PropertySet itemCopy = CopyProperties(props);
    FParentHandle = parentHandle;
    FInitial = true;
    try {
        FItem = platform::ComRef<IKibItem>(item);
        FNodeProps = std::move(nodeCopy);
        FProps = std::move(itemCopy);
        FItemName = edtNameItem.Text();
        cbxOperation.Clear();
        for (int i = 0; i < kOperationCount; ++i) {
            cbxOperation.Add(OperationAt(i).caption);
        }
        cbxOperation.Select(static_cast<int>(Operation::State));
        cbxOperationChange();
    } catch (...) {
        FInitial = false;
        throw;
    }
    FInitial = false;
}

void TfmItemProps::SetItem(const KibShortString& itemName, PItemProperties nodeProps,
                           PItemProperties props) {
    // Copy before anything changes: a reload hands in the page's own copies.
    PropertySet nodeCopy = CopyProperties(nodeProps);
    PropertySet itemCopy = CopyProperties(props);
    std::u16string name = ShortStringText(itemName);
    FInitial = true;
    try {
        FNodeProps = std::move(nodeCopy);
        FProps = std::move(itemCopy);
        PItemProperties set = FProps.get();

        edtNameItem.SetText(name);
        FItemName = edtNameItem.Text();
        edtDescriptItem.SetText(u"");
        if (auto description = PropertyText(kPropDescription, set)) {
            edtDescriptItem.SetText(*description);
        }
        if (auto rate = PropertyNumber(kPropScanRate, set)) {
            SetSpinValue(rxsScanRate, ScanRateMsToSeconds(*rate));
        }
        if (auto caption = PropertyText(kPropOperation, set)) {
            int found = -1;
            for (int i = 0; i < cbxOperation.Count(); ++i) {
                if (cbxOperation.ItemText(i) == *caption) {
                    found = i;
                    break;
                }
            }
            cbxOperation.Select(found);
        }
        cbxOperationChange();
        const std::pair<std::int32_t, platform::SpinField*> parameters[] = {
            {kPropCounter, &rxsItemCounter},
            {kPropDigitalInput, &rxsItemDigitalInput},
            {kPropDigitalOutput, &rxsItemDigitalOutput},
            {kPropWeightPoint, &rxsItemWeightPoint},
            {kPropStateBit, &rxsItemState},
        };
        for (const auto& [id, field] : parameters) {
            if (auto value = PropertyNumber(id, set)) {
                SetSpinValue(*field, *value);
            }
        }
        // The driver reads 0 as the lower level and any other value as the upper one; the
        // list shows it the same way rather than losing the selection.
        if (auto level = PropertyNumber(kPropWeightPointLevel, set)) {
            cbxItemWightPointLevel.Select(*level == 0 ? 0 : 1);
        }
        // A figure this page does not know leaves the list as it was, as a spin field would.
        if (auto figure = PropertyNumber(kPropLinkFigure, set)) {
            if (*figure >= 0 && *figure < kLinkFigureCount) {
                cbxItemLinkFigure.Select(static_cast<int>(*figure));
            }
        }
    } catch (...) {
        FInitial = false;
        throw;
    }
    FInitial = false;
}

void TfmItemProps::cbxOperationChange() {
    switch (OperationOf(cbxOperation.SelectedText())) {
    case Operation::Counter:
        pnlItemCounter.BringToFront();
        break;
    case Operation::DigitalInputs:
        pnlItemDigitalInput.BringToFront();
        break;
    case Operation::DigitalOutputs:
        pnlItemDigitalOutput.BringToFront();
        break;
    case Operation::WeightPoints:
        pnlItemWeightPoint.BringToFront();
        break;
    case Operation::State:
        pnlItemState.BringToFront();
        break;
    case Operation::LinkDiagnostics:
        pnlItemLinkDiagnostics.BringToFront();
        break;
    default:
        pnlEmpty.BringToFront();
        break;
    }
}

void TfmItemProps::ChangeParams() {
    if (FInitial || !FParentHandle) {
        return;
    }
    window_->Notify(FParentHandle,
                    edtNameItem.Text().empty() ? WM_ITEM_CHANGED_EMPTY_NAME : WM_ITEM_CHANGED);
}

bool TfmItemProps::edtNameItemKeyPress(char16_t key) const noexcept {
    return NameKeyAccepted(key);
}

void TfmItemProps::WMItemReload() {
    KibShortString name;
    GetShortString(FItemName, name);
    SetItem(name, FNodeProps.get(), FProps.get());
}

void TfmItemProps::WMPageDetach() {
    FParentHandle = nullptr;
    window_->Detach();
    FItem.reset();
}

void TfmItemProps::SaveItem(bool update) {
    // Held for the whole save: the host may detach the page from inside its own call.
    const platform::ComRef<IKibItem> item = FItem;
    if (!item) {
        return;
    }
    ItemSettings settings;
    settings.description = edtDescriptItem.Text();
    settings.scanRateSeconds = rxsScanRate.Value();
    settings.operation = cbxOperation.SelectedText();
    settings.counter = rxsItemCounter.Value();
    settings.input = rxsItemDigitalInput.Value();
    settings.output = rxsItemDigitalOutput.Value();
    settings.weightPoint = rxsItemWeightPoint.Value();
    settings.levelIndex = cbxItemWightPointLevel.Selected();
    settings.stateBit = rxsItemState.Value();
    settings.linkFigure = cbxItemLinkFigure.Selected();
    std::optional<ItemAttributes> attributes =
        BuildItemAttributes(edtNameItem.Text(), settings.operation, settings.linkFigure);
    std::optional<PropertySet> properties = BuildItemProperties(settings, FNodeProps.get());
    if (!attributes || !properties) {
        platform::ShowMessageBox(kBoxSelectOperation, kBoxErrorCaption, kPageBoxFlags);
        return;
    }

    if (HandToHost(*item.get(), context_.Driver(), update, kChildItem, kChildItemFlags,
                   attributes->get(), properties->get(), edtNameItem,
                   {kBoxItemExists, kBoxBadItemNameCaption, kBoxItemAddFailed})) {
        window_->Notify(FParentHandle, WM_ITEM_SAVED);
    }
}

void TfmItemProps::OnMessage(std::uint32_t message) {
    try {
        switch (message) {
        case WM_ITEM_ADD:
            WMItemAdd();
            break;
        case WM_ITEM_UPDATE:
            WMItemUpdate();
            break;
        case WM_ITEM_RELOAD:
            WMItemReload();
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
