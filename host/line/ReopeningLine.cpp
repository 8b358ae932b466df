#include "host/line/ReopeningLine.h"

#include <stdexcept>

namespace vemox::host {

ReopeningLine::ReopeningLine(std::string port, std::string device, Opener open,
                             const HostClock& clock, std::int64_t retryMs, Notice notice)
    : port_(std::move(port)), device_(std::move(device)), open_(std::move(open)), clock_(clock),
      retryMs_(retryMs), notice_(std::move(notice)), nextTryMs_(clock.NowMs()) {
    Ensure();
}

void ReopeningLine::Tell(const std::string& text) const {
    if (notice_) {
        notice_(port_ + ": " + text);
    }
}

void ReopeningLine::Closed(const std::string& because) {
    nextTryMs_ = clock_.NowMs() + retryMs_;
    // A device that stays away is told once; a new reason (gone, then busy) again.
    if (because != closedBecause_) {
        closedBecause_ = because;
        Tell(because + "; trying again every " + std::to_string(retryMs_) + " ms");
    }
}

bool ReopeningLine::Ensure() {
    if (line_ || clock_.NowMs() < nextTryMs_) {
        return line_ != nullptr;
    }
    try {
        line_ = open_();
    } catch (const std::exception& error) {
        Closed(error.what());
        return false;
    }
    // The first open at start is the normal case and goes unmentioned.
    if (!closedBecause_.empty()) {
        Tell(device_ + (everOpen_ ? " reopened" : " opened"));
    }
    everOpen_ = true;
    closedBecause_.clear();
    return true;
}

void ReopeningLine::CloseIfFailed() {
    if (!line_) {
        return;
    }
    const std::string why = line_->Failure();
    if (!why.empty()) {
        line_.reset();
        Closed(device_ + " lost: " + why);
    }
}

bool ReopeningLine::Write(const std::uint8_t* data, std::size_t size) {
    if (!Ensure()) {
        return false;
    }
    const bool written = line_->Write(data, size);
    CloseIfFailed();
    return written;
}

std::size_t ReopeningLine::Read(std::uint8_t* buffer, std::size_t capacity) {
    if (!Ensure()) {
        return 0;
    }
    // What the device delivered before it failed is still read; the failure is acted on
    // once nothing more is there.
    const std::size_t got = line_->Read(buffer, capacity);
    if (got == 0) {
        CloseIfFailed();
    }
    return got;
}

void ReopeningLine::DropInput() {
    if (Ensure()) {
        line_->DropInput();
        CloseIfFailed();
    }
}

} // namespace vemox::host
