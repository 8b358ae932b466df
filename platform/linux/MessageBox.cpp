// Without a window system the operator reads the box on standard error.
#include "platform/MessageBox.h"
#include "platform/Text.h"

#include <cstdio>
#include <string>

namespace vemox::platform {

void SystemMessageBox(std::u16string_view text, std::u16string_view caption, std::uint32_t) {
    const std::string line = Utf16ToUtf8(caption) + ": " + Utf16ToUtf8(text) + "\n";
    std::fputs(line.c_str(), stderr);
}

} // namespace vemox::platform
