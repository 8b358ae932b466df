#include "host/session/LinePool.h"

#include <algorithm>
#include <tuple>

namespace vemox::host {
namespace {

bool SamePort(const PortConfig& a, const PortConfig& b) {
    return std::tie(a.number, a.device, a.line.baud, a.line.dataBits, a.line.parity,
                    a.line.stopBits) == std::tie(b.number, b.device, b.line.baud, b.line.dataBits,
                                                 b.line.parity, b.line.stopBits);
}

// The session's handle on a line the pool owns: closing the session leaves the line open.
class BorrowedLine final : public SerialLine {
public:
    explicit BorrowedLine(SerialLine& line) : line_(line) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        return line_.Write(data, size);
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t capacity) override {
        return line_.Read(buffer, capacity);
    }
    void DropInput() override { line_.DropInput(); }
    std::string Failure() const override { return line_.Failure(); }
    SerialLine* Waitable() override { return line_.Waitable(); }

private:
    SerialLine& line_;
};

} // namespace

LinePool::Changes LinePool::KeepOnly(const std::vector<PortConfig>& ports) {
    Changes changes;
    const auto stays = [&](const Kept& kept) {
        return std::any_of(ports.begin(), ports.end(),
                           [&](const PortConfig& port) { return SamePort(port, kept.port); });
    };
    const auto gone = std::stable_partition(kept_.begin(), kept_.end(), stays);
    changes.kept = static_cast<std::size_t>(gone - kept_.begin());
    changes.closed = static_cast<std::size_t>(kept_.end() - gone);
    kept_.erase(gone, kept_.end());
    return changes;
}

LineOpener LinePool::Opener() {
    return [this](const PortConfig& port) -> std::unique_ptr<SerialLine> {
        auto found = std::find_if(kept_.begin(), kept_.end(),
                                  [&](const Kept& kept) { return SamePort(kept.port, port); });
        if (found == kept_.end()) {
            kept_.push_back({port, open_(port)});
            found = kept_.end() - 1;
        }
        return std::make_unique<BorrowedLine>(*found->line);
    };
}

} // namespace vemox::host
