// Every process-wide object of the library, in one translation unit so that C++ gives them
// a definite order: they are created at library load in the order written here and freed at
// unload in the reverse order.
#include "config/Config.h"
#include "config/ItemProps.h"
#include "config/NodeProps.h"
#include "driver/Globals.h"
#include "driver/Main.h"
#include "driver/Process.h"
#include "driver/Registry.h"

namespace vemox {

std::vector<TComPort> Ports;

std::unique_ptr<TfmNodeProps> fmNodeProps;
std::unique_ptr<TfmItemProps> fmItemProps;
std::unique_ptr<TfmConfig> fmConfig;
std::unique_ptr<TKibProcess> PollProcess;
std::unique_ptr<TComPortDriver> PortDriver;

namespace {

// The pages come before the driver object, so they see it only through this view, which looks
// it up at each use.
class DriverPageContext final : public PageContext {
public:
    IKibOPCServer* Server() const noexcept override {
        return PortDriver ? PortDriver->Server() : nullptr;
    }
    IKibDriver3* Driver() const noexcept override {
        return PortDriver ? PortDriver->DriverInterface() : nullptr;
    }
    TDriverSettings& Settings() const noexcept override { return DriverSettings; }
};

DriverPageContext gPageContext;

template <typename T, typename... Args>
void Create(std::unique_ptr<T>& object, Args&... args) noexcept {
    try {
        object = std::make_unique<T>(args...);
    } catch (...) {
        object.reset();
    }
}

struct LibraryObjects {
    // A failure here would end the host's process while it loads us; an object that cannot
    // be made stays nil instead, and the operations that need it answer as without it.
    LibraryObjects() {
        Create(fmNodeProps, gPageContext);
        Create(fmItemProps, gPageContext);
        Create(fmConfig, gPageContext);
        Create(PollProcess);
        Create(PortDriver);
    }
    ~LibraryObjects() {
        PortDriver.reset(); // drops every task and the whole registry
        PollProcess.reset();
        fmConfig.reset();
        fmItemProps.reset();
        fmNodeProps.reset();
        Ports.clear();
    }
    LibraryObjects(const LibraryObjects&) = delete;
    LibraryObjects& operator=(const LibraryObjects&) = delete;
};

LibraryObjects gLibraryObjects;

} // namespace

PageContext& DriverPages() noexcept {
    return gPageContext;
}

} // namespace vemox
