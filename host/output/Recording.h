// `run --record FILE`: one row per finished read (time stamp, item, value, quality, reply
// time), as JSON lines when the name ends in .jsonl, as CSV otherwise. A name ending in .json
// is refused: appended lines do not make one JSON document. Rows are appended and each is
// flushed as it is written, so a crash loses at most the row being written.
#pragma once

#include "host/output/ReadRecord.h"

#include <cstdio>
#include <memory>
#include <string>

namespace vemox::host {

// "timestamp,item,value,quality,quality_text,reply_ms": the value and the reply time are
// empty unless the read was good.
std::string CsvRow(const ReadRecord& record);
// The gateway's payload with the item's name, on one line.
std::string JsonLine(const ReadRecord& record);

class Recording {
public:
    // Opens the file for appending (a new CSV file gets its header); throws ConfigError for a
    // name it refuses and with the system's reason when it cannot open the file.
    explicit Recording(const std::string& path);

    // Writes the read's row; answers false once writing failed (the disk is full, ...).
    bool Row(const ReadRecord& record);

private:
    std::string path_;
    bool jsonLines_;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
};

} // namespace vemox::host
