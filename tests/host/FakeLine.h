// An in-memory serial line: records what the host writes and hands out scripted input.
#pragma once

#include "host/line/SerialLine.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace vemox::testing {

struct LineLog {
    std::vector<std::vector<std::uint8_t>> writes;
    std::deque<std::uint8_t> incoming;
    bool refuseWrites = false;
    std::string failure; // set: the device has failed for good

    void Arrive(std::initializer_list<std::uint8_t> bytes) {
        incoming.insert(incoming.end(), bytes.begin(), bytes.end());
    }
};

class FakeLine final : public host::SerialLine {
public:
    explicit FakeLine(std::shared_ptr<LineLog> log) : log_(std::move(log)) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        if (log_->refuseWrites) {
            return false;
        }
        log_->writes.emplace_back(data, data + size);
        return true;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        const std::size_t n = std::min(capacity, log_->incoming.size());
        std::copy_n(log_->incoming.begin(), n, buffer);
        log_->incoming.erase(log_->incoming.begin(),
                             log_->incoming.begin() + static_cast<std::ptrdiff_t>(n));
        return n;
    }
    std::string Failure() const override { return log_->failure; }

private:
    std::shared_ptr<LineLog> log_;
};

} // namespace vemox::testing
