// Runs a simulator on a file descriptor: reads requests as they arrive and writes each reply
// byte when the model says it is due.
#pragma once

#include "sim/Endpoint.h"
#include "sim/Simulator.h"

#include <chrono>
#include <cstdint>
#include <functional>

namespace vemox::sim {

// What a server does besides answering: a tap that carries a copy of all traffic, and the
// client's line rate, compared with the controllers' own.
struct ServerOptions {
    // Every byte both ways, as it is on the wire, is copied here (non-blocking); bytes the tap
    // cannot take because nobody reads it are dropped. -1: no tap.
    int tap = -1;
    // The rate the client set; when it differs from the simulator's, each side hears the other
    // garbled, as a real line at mismatched rates does. Empty, or 0: rates are not compared.
    std::function<std::uint32_t()> clientBaud;
};

class Server {
public:
    // `line` is the descriptor of the line (non-blocking); `stop` the read end of a wake pipe.
    Server(Simulator& simulator, int line, int stop, ServerOptions options = {});

    // Serves until the wake pipe becomes readable. Throws std::system_error when the line fails.
    void Run();

    // Simulator time now: time since the server was made.
    SimTime Now() const { return std::chrono::steady_clock::now() - start_; }

private:
    bool Flush();
    void Tap(const std::uint8_t* data, std::size_t size) const;
    // What the other side hears of `bytes` sent by the client (or to it, when `toClient`).
    Bytes AcrossRates(Bytes bytes, bool toClient) const;

    Simulator& simulator_;
    int line_;
    int stop_;
    ServerOptions options_;
    std::chrono::steady_clock::time_point start_;
    Bytes unwritten_;
};

} // namespace vemox::sim
