// What the end-to-end tests share: a folder of their own, and a simulator on a fresh
// pseudo-terminal.
#pragma once

#include "Process.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace vemox::testing {

constexpr int kStartMs = 5000;

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/vemox-e2e-XXXXXX";
        path_ = ::mkdtemp(pattern);
    }
    ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string Write(const std::string& name, const std::string& text) const {
        const std::string file = path_ + "/" + name;
        std::ofstream(file) << text;
        return file;
    }

private:
    std::string path_;
};

// One simulator on a fresh pseudo-terminal.
class Sim {
public:
    explicit Sim(std::vector<std::string> options) {
        options.insert(options.begin(), VEMOX_SIM_PATH);
        process_ = std::make_unique<Process>(options);
        pty_ = process_->WaitForLine("pty: ", kStartMs);
    }
    const std::string& Pty() const { return pty_; }
    Finished Stop() {
        process_->Signal(SIGTERM);
        return process_->Wait(kStartMs);
    }

private:
    std::unique_ptr<Process> process_;
    std::string pty_;
};

} // namespace vemox::testing
