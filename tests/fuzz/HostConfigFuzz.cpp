// The reference host's configuration parser: any text either parses into a configuration
// whose every item names a known node and operation and whose every node names a known port,
// or is refused with a ConfigError. No other exception, crash or sanitizer report.
#include "FuzzInput.h"
#include "host/config/HostConfig.h"

#include <string_view>

using vemox::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const vemox::host::HostConfig config = vemox::host::ParseHostConfig(text, "fuzz.toml");
        for (const auto& item : config.items) {
            Require(item.operation != nullptr, "an item has an operation");
            Require(config.FindNode(item.node) != nullptr, "an item names a known node");
        }
        for (const auto& node : config.nodes) {
            Require(config.FindPort(node.portNumber) != nullptr, "a node names a known port");
        }
    } catch (const vemox::host::ConfigError&) {
        // Refused with a message: the documented answer to a bad file.
    }
    return 0;
}
