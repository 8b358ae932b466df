// dlopen, /proc/self/exe, isatty and a SIGINT/SIGTERM/SIGHUP flag.
#include "host/session/SharedLibrary.h"

#include <atomic>
#include <csignal>
#include <dlfcn.h>
#include <stdexcept>
#include <unistd.h>

namespace vemox::host {
namespace {

class DlLibrary final : public SharedLibrary {
public:
    explicit DlLibrary(void* handle) : handle_(handle) {}
    ~DlLibrary() override { ::dlclose(handle_); }
    DlLibrary(const DlLibrary&) = delete;
    DlLibrary& operator=(const DlLibrary&) = delete;
    void* Symbol(const char* name) const override { return ::dlsym(handle_, name); }

private:
    void* handle_;
};

volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) {
    interrupted = 1;
}

volatile std::sig_atomic_t reloadAsked = 0;

extern "C" void OnReload(int) {
    reloadAsked = 1;
}

} // namespace

std::unique_ptr<SharedLibrary> LoadSharedLibrary(const std::string& path) {
    // A bare file name would search the system paths; the host means the file it was given.
    const std::string explicitPath = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = ::dlopen(explicitPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        throw std::runtime_error(why ? why : path + ": cannot be loaded");
    }
    return std::make_unique<DlLibrary>(handle);
}

const char* DriverFileName() {
    return "libvemox.so";
}

std::string ExecutableDirectory() {
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
        return ".";
    }
    std::string path(buffer, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void InstallInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr); // the terminal closed: stop as cleanly as on Ctrl-C
}

bool InterruptRequested() {
    return interrupted != 0;
}

void InstallReloadHandler() {
    struct sigaction action {};
    action.sa_handler = OnReload;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGHUP, &action, nullptr);
}

bool TakeReloadRequest() {
    const bool asked = reloadAsked != 0;
    reloadAsked = 0;
    return asked;
}

void PrepareConsole() {}

} // namespace vemox::host
