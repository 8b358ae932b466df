// Without a window system the pages keep their state in headless windows.
#include "platform/HeadlessControls.h"

namespace vemox::platform {

std::unique_ptr<PageWindow> CreateSystemPage(int clientWidth, int clientHeight) {
    return CreateHeadlessPage(clientWidth, clientHeight);
}

} // namespace vemox::platform
