#include "platform/MessageBox.h"

#include "platform/Types.h"

#include <string>

namespace vemox::platform {

void SystemMessageBox(std::u16string_view text, std::u16string_view caption, std::uint32_t flags) {
    const std::u16string t(text);
    const std::u16string c(caption);
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(t.c_str()),
                  reinterpret_cast<const wchar_t*>(c.c_str()), flags);
}

} // namespace vemox::platform
