// The Windows host runs from a console only: no manager listens.
#include "host/session/ServiceManager.h"

namespace vemox::host {

std::unique_ptr<ServiceManager> ConnectServiceManager() {
    return nullptr;
}

} // namespace vemox::host
