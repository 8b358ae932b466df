// What the pages need of the driver that owns them. The driver creates the pages and hands each
// this view of itself, so that the pages never reach into the driver's objects.
#pragma once

#include "config/DriverSettings.h"
#include "contract/PluginInterface.h"

namespace vemox {

class PageContext {
public:
    // The host's server object, kept since Initial; nil before it and after Deinitial.
    virtual IKibOPCServer* Server() const noexcept = 0;
    // The driver's own interface, which the host takes with every node or item added to it.
    virtual IKibDriver3* Driver() const noexcept = 0;
    // The settings that the settings page shows, saves and applies.
    virtual TDriverSettings& Settings() const noexcept = 0;

protected:
    ~PageContext() = default;
};

} // namespace vemox
