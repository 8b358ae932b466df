// Reads a fuzz input as a stream of choices: each call takes what it needs from the front,
// and an exhausted input answers zeros, so every input, however short, is a valid run.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vemox::fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t left() const { return size_ - pos_; }

    std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
    std::uint32_t Dword() { return static_cast<std::uint32_t>(Word() | Word() << 16); }

    // Up to `count` bytes, fewer when the input runs out.
    std::vector<std::uint8_t> Take(std::size_t count) {
        const std::size_t n = std::min(count, left());
        std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
        pos_ += n;
        return out;
    }
    std::vector<std::uint8_t> Rest() { return Take(left()); }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// A broken promise of the code under test: reported and turned into a crash, which both the
// fuzzer and the corpus replay count as a finding.
[[noreturn]] inline void Violated(const char* what) {
    std::fprintf(stderr, "invariant violated: %s\n", what);
    std::abort();
}

inline void Require(bool holds, const char* what) {
    if (!holds) {
        Violated(what);
    }
}

} // namespace vemox::fuzz
