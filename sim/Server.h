// Runs a simulator on a file descriptor: reads requests as they arrive and writes each reply
// byte when the model says it is due.
#pragma once

#include "sim/Endpoint.h"
#include "sim/Simulator.h"

#include <chrono>

namespace vemox::sim {

class Server {
public:
    // `line` is the descriptor of the line (non-blocking); `stop` the read end of a wake pipe.
    Server(Simulator& simulator, int line, int stop);

    // Serves until the wake pipe becomes readable. Throws std::system_error when the line fails.
    void Run();

    // Simulator time now: time since the server was made.
    SimTime Now() const { return std::chrono::steady_clock::now() - start_; }

private:
    bool Flush();

    Simulator& simulator_;
    int line_;
    int stop_;
    std::chrono::steady_clock::time_point start_;
    Bytes unwritten_;
};

} // namespace vemox::sim
