#include "host/output/Recording.h"

#include "host/output/Report.h"

#include <nlohmann/json.hpp>

#include <cctype>
#include <cerrno>
#include <cstring>

namespace vemox::host {
namespace {

constexpr const char* kCsvHeader = "timestamp,item,value,quality,quality_text,reply_ms\n";

// File name endings are compared as the operator may type them: RUN.JSONL is JSON lines.
bool EndsWith(const std::string& text, const std::string& end) {
    if (text.size() < end.size()) {
        return false;
    }
    for (std::size_t i = 0; i < end.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[text.size() - end.size() + i]);
        if (std::tolower(c) != end[i]) {
            return false;
        }
    }
    return true;
}

// A recording's name: what a file of that name is expected to hold decides the format.
std::string CheckedName(const std::string& path) {
    if (path.empty()) {
        throw ConfigError("--record: give a file name: NAME.csv, or NAME.jsonl for JSON lines");
    }
    if (EndsWith(path, ".json")) {
        throw ConfigError("--record " + path +
                          ": a recording is CSV (.csv) or JSON lines (.jsonl), not one JSON "
                          "document; name the file .csv or .jsonl");
    }
    return path;
}

// A field that holds a comma, a quote or a line break goes in quotes, its quotes doubled.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

} // namespace

std::string CsvRow(const ReadRecord& record) {
    // A field that has no value stays empty, as spreadsheets read a missing number.
    return (record.timeTicks != 0 ? TimeStampText(record.timeTicks) : "") + "," +
           CsvField(record.item) + "," + (record.value ? CsvField(ValueText(record.value)) : "") +
           "," + std::to_string(record.quality) + "," + CsvField(record.qualityText) + "," +
           (record.replyMs ? std::to_string(*record.replyMs) : "");
}

std::string JsonLine(const ReadRecord& record) {
    nlohmann::json row = PayloadJson(record);
    row["item"] = record.item;
    return row.dump();
}

Recording::Recording(const std::string& path)
    : path_(CheckedName(path)), jsonLines_(EndsWith(path, ".jsonl")),
      file_(std::fopen(path.c_str(), "ab"), &std::fclose) {
    if (!file_) {
        throw ConfigError("--record " + path + ": " + std::strerror(errno));
    }
    std::fseek(file_.get(), 0, SEEK_END);
    if (!jsonLines_ && std::ftell(file_.get()) == 0) {
        std::fputs(kCsvHeader, file_.get());
    }
}

bool Recording::Row(const ReadRecord& record) {
    const std::string line = (jsonLines_ ? JsonLine(record) : CsvRow(record)) + "\n";
    return std::fputs(line.c_str(), file_.get()) >= 0 && std::fflush(file_.get()) == 0;
}

} // namespace vemox::host
