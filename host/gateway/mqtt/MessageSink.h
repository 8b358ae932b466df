// Where the host's messages for the broker go: the broker connection, or a recorder in tests.
#pragma once

#include <string>

namespace vemox::host {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // A retained message stands for its topic's latest state: the broker hands it to every
    // subscriber that comes later.
    virtual void Publish(const std::string& topic, const std::string& payload, bool retain) = 0;
};

} // namespace vemox::host
