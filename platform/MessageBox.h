// Operator message boxes behind a seam: tests install a hook so that no box ever blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace vemox::platform {

// The flag values of the system's message box call.
constexpr std::uint32_t kBoxOk = 0x0000;
constexpr std::uint32_t kBoxIconError = 0x0010;
constexpr std::uint32_t kBoxIconWarning = 0x0030;
constexpr std::uint32_t kBoxTaskModal = 0x2000;

using MessageBoxHook =
    std::function<void(std::u16string_view text, std::u16string_view caption, std::uint32_t flags)>;

// Shows a box without owner window and waits until the operator closes it.
void ShowMessageBox(std::u16string_view text, std::u16string_view caption, std::uint32_t flags);

// Replaces the real box (an empty hook restores it). Returns the hook it replaced.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

} // namespace vemox::platform
