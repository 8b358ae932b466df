// What the end-to-end tests share: a temporary folder, a simulator on its own pseudo-terminal,
// configuration files written from nodes and items, and the host run against them.
#pragma once

#include "Process.h"

#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace vemox::testing {

inline constexpr int kStartMs = 5000;
inline constexpr int kRunMs = 60000;

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
    // With -v, its standard error logs every exchange as it comes ("Rx 01 D0 01 00 ...").
    Process& Log() { return *process_; }
    Finished Stop() {
        process_->Signal(SIGTERM);
        return process_->Wait(kStartMs);
    }

private:
    std::unique_ptr<Process> process_;
    std::string pty_;
};

struct Node {
    std::string name;
    std::string identity; // "address = 1" or "serial = 123456"
};

struct Item {
    std::string node;
    std::string name;
    std::string operation;
    std::string parameters; // e.g. "output = 3" or "point = 0\nlevel = \"upper\""
};

inline std::string ConfigText(int waitMs, int tries, bool crc, const std::vector<Node>& nodes,
                              const std::vector<Item>& items, int timeNextSendMs = 60000) {
    std::string text = "[driver]\nWaitTimeout = " + std::to_string(waitMs) +
                       "\nCountTry = " + std::to_string(tries) +
                       "\nTimeNextSend = " + std::to_string(timeNextSendMs) +
                       "\nCalcCRC = " + (crc ? "true" : "false") + "\n[[port]]\nname = \"COM1\"\n";
    for (const Node& node : nodes) {
        text += "[[node]]\nname = \"" + node.name + "\"\nport = \"COM1\"\n" + node.identity + "\n";
    }
    for (const Item& item : items) {
        text += "[[item]]\nnode = \"" + item.node + "\"\nname = \"" + item.name +
                "\"\noperation = \"" + item.operation + "\"\n" + item.parameters + "\n";
    }
    return text;
}

inline const std::vector<Node> kDemoNodes = {
    {"Hopper", "address = 1"}, {"Belt", "address = 2"}, {"Tank", "serial = 123456"}};

inline std::vector<std::string> HostArgs(const std::string& config, const std::string& device,
                                         std::vector<std::string> command) {
    std::vector<std::string> argv = {VEMOX_HOST_PATH, "--config", config, "--device",
                                     "COM1=" + device};
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

inline Finished Host(const std::string& config, const std::string& pty,
                     std::vector<std::string> command) {
    return RunToEnd(HostArgs(config, pty, std::move(command)), kRunMs);
}

// The items of `read --once --json`, by name.
inline std::map<std::string, nlohmann::json> Items(const Finished& run) {
    std::map<std::string, nlohmann::json> items;
    const auto document = nlohmann::json::parse(run.out);
    for (const auto& item : document.at("items")) {
        items[item.at("name").get<std::string>()] = item;
    }
    return items;
}

} // namespace vemox::testing
