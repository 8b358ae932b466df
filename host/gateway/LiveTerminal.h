// The terminal taken over for the live view of `run`, as full-screen programs do: an
// alternate screen redrawn in place, its size known at start and after every resize, keys
// read without waiting. The destructor gives the terminal back as it was, also when the run
// ends in an error.
#pragma once

#include "host/output/LiveScreen.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace vemox::host {

enum class LiveInput {
    None,    // nothing waits
    Ignored, // a key without a meaning here
    Quit,    // q
    Resized, // the terminal has a new size
    Scroll,  // arrows, PgUp/PgDn, Home/End, j/k
};

struct LiveKey {
    LiveInput input = LiveInput::None;
    ScrollKey scroll = ScrollKey::Down;
};

class LiveTerminal {
public:
    // Throws std::runtime_error when the terminal cannot be driven.
    LiveTerminal();
    ~LiveTerminal();
    LiveTerminal(const LiveTerminal&) = delete;
    LiveTerminal& operator=(const LiveTerminal&) = delete;

    std::size_t Width() const;
    std::size_t Height() const;
    // The next key or resize; LiveInput::None when nothing waits.
    LiveKey Next();
    // Replaces the screen by `lines`, each at most Width() characters.
    void Draw(const std::vector<ScreenLine>& lines);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vemox::host
