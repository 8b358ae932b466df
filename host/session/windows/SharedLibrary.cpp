// LoadLibrary, GetModuleFileName, the console and Ctrl-C through a console control handler.
#include "host/session/SharedLibrary.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <io.h>
#include <stdexcept>

namespace vemox::host {
namespace {

class DllLibrary final : public SharedLibrary {
public:
    explicit DllLibrary(HMODULE module) : module_(module) {}
    ~DllLibrary() override { ::FreeLibrary(module_); }
    DllLibrary(const DllLibrary&) = delete;
    DllLibrary& operator=(const DllLibrary&) = delete;
    void* Symbol(const char* name) const override {
        return reinterpret_cast<void*>(::GetProcAddress(module_, name));
    }

private:
    HMODULE module_;
};

std::atomic<bool> interrupted{false};

BOOL WINAPI OnConsoleControl(DWORD) {
    interrupted = true;
    return TRUE;
}

} // namespace

std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::string& path) {
    const HMODULE module = ::LoadLibraryA(path.c_str());
    if (!module) {
        throw std::runtime_error(path + ": cannot be loaded (system error " +
                                 std::to_string(static_cast<unsigned long>(::GetLastError())) +
                                 ")");
    }
    return std::make_unique<DllLibrary>(module);
}

const char* DriverFileName() {
    return "Vemox.dll";
}

std::string ExecutableDirectory() {
    char buffer[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, buffer, MAX_PATH);
    std::string path(buffer, n);
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool StdoutIsTerminal() {
    return ::_isatty(::_fileno(stdout)) != 0;
}

bool StderrIsTerminal() {
    return ::_isatty(::_fileno(stderr)) != 0;
}

void InstallInterruptHandler() {
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool InterruptRequested() {
    return interrupted;
}

// The Windows host has no hang-up to reload on.
void InstallReloadHandler() {}

bool TakeReloadRequest() {
    return false;
}

void PrepareConsole() {
    ::SetConsoleOutputCP(CP_UTF8);
}

} // namespace vemox::host
