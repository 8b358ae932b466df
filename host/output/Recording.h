// `run --record FILE`: one row per finished read (UTC time stamp, item, value, quality, reply
// time), as CSV, or as JSON lines when the name ends in .jsonl. Rows are appended and each is
// flushed as it is written, so a crash loses at most the row being written.
#pragma once

#include "host/session/FinishedReads.h"

#include <cstdio>
#include <memory>
#include <string>

namespace vemox::host {

class Recording {
public:
    // Opens the file for appending (a new CSV file gets its header); throws ConfigError with the
    // system's reason when it cannot.
    explicit Recording(const std::string& path);

    // Writes the read's row; answers false once writing failed (the disk is full, ...).
    bool Row(const FinishedReads::Read& read);

private:
    std::string path_;
    bool jsonLines_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

} // namespace vemox::host
