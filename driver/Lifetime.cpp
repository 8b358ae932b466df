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

TDriverSettings DriverSettings;
std::vector<TComPort> Ports;

std::unique_ptr<TfmNodeProps> fmNodeProps;
std::unique_ptr<TfmItemProps> fmItemProps;
std::unique_ptr<TfmConfig> fmConfig;
std::unique_ptr<TKibProcess> PollProcess;
std::unique_ptr<TComPortDriver> PortDriver;

namespace {

struct LibraryObjects {
    LibraryObjects() {
        fmNodeProps = std::make_unique<TfmNodeProps>();
        fmItemProps = std::make_unique<TfmItemProps>();
        fmConfig = std::make_unique<TfmConfig>();
        PollProcess = std::make_unique<TKibProcess>();
        PortDriver = std::make_unique<TComPortDriver>();
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
} // namespace vemox
