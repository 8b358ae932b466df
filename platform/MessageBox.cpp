#include "platform/MessageBox.h"

#include <utility>

namespace vemox::platform {

void SystemMessageBox(std::u16string_view text, std::u16string_view caption, std::uint32_t flags);

namespace {
MessageBoxHook& Hook() {
    static MessageBoxHook hook;
    return hook;
}
} // namespace

void ShowMessageBox(std::u16string_view text, std::u16string_view caption, std::uint32_t flags) {
    if (Hook()) {
        Hook()(text, caption, flags);
        return;
    }
    SystemMessageBox(text, caption, flags);
}

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    return std::exchange(Hook(), std::move(hook));
}

} // namespace vemox::platform
