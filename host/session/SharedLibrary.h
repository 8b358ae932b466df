// Loading the driver library by path, and the few process facilities the host needs from
// the operating system (the executable's folder, the terminal, the interrupt key).
#pragma once

#include <memory>
#include <string>

namespace vemox::host {

class SharedLibrary {
public:
    virtual ~SharedLibrary() = default;
    // The address of an exported symbol, nullptr when there is none.
    virtual void* Symbol(const char* name) const = 0;
};

// Throws std::runtime_error with the loader's reason when the library cannot be loaded.
std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::string& path);

// File name of the driver library on this system and the folder of the running program.
const char* DriverFileName();
std::string ExecutableDirectory();

bool StdoutIsTerminal();
bool StderrIsTerminal();
// Ctrl-C, a termination request or a closed terminal only raises a flag; the main loop stops
// cleanly on it.
void InstallInterruptHandler();
bool InterruptRequested();
// From here on a hang-up (SIGHUP) asks for the configuration to be read again instead of
// stopping the host; a service manager sends it for a reload. Nothing on Windows.
void InstallReloadHandler();
// True once for each reload asked for since the last call.
bool TakeReloadRequest();
// Lets UTF-8 text reach the console as written.
void PrepareConsole();

} // namespace vemox::host
