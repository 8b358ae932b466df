#include "host/output/Recording.h"

#include "host/output/Report.h"
#include "platform/VariantConvert.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cstring>

namespace vemox::host {
namespace {

constexpr const char* kCsvHeader = "time_utc,item,value,quality,quality_text,reply_ms\n";

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
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

Recording::Recording(const std::string& path)
    : path_(path), jsonLines_(EndsWith(path, ".jsonl")),
      file_(std::fopen(path.c_str(), "ab"), &std::fclose) {
    if (!file_) {
        throw ConfigError("--record " + path + ": " + std::strerror(errno));
    }
    std::fseek(file_.get(), 0, SEEK_END);
    if (!jsonLines_ && std::ftell(file_.get()) == 0) {
        std::fputs(kCsvHeader, file_.get());
    }
}

bool Recording::Row(const FinishedReads::Read& read) {
    const OPCITEMSTATE& state = read.item->host.Shown();
    const std::string time = IsoTimeText(state.ftTimeStamp);
    const std::string name = read.item->config.FullName();
    const std::string quality = QualityWords(state.wQuality);
    std::string line;
    if (jsonLines_) {
        nlohmann::ordered_json row = {{"time_utc", time},
                                      {"item", name},
                                      {"quality", state.wQuality},
                                      {"quality_text", quality}};
        const bool none = state.vDataValue.vt == VT_EMPTY || state.vDataValue.vt == VT_NULL;
        try {
            row["value"] =
                none ? nlohmann::ordered_json()
                     : nlohmann::ordered_json(platform::VariantToDouble(state.vDataValue));
        } catch (const platform::ConversionError&) {
            row["value"] = ValueText(state.vDataValue);
        }
        row["reply_ms"] = read.replyMs ? nlohmann::ordered_json(*read.replyMs) : nullptr;
        line = row.dump() + "\n";
    } else {
        line = time + "," + CsvField(name) + "," + CsvField(ValueText(state.vDataValue)) + "," +
               std::to_string(state.wQuality) + "," + CsvField(quality) + "," +
               (read.replyMs ? std::to_string(*read.replyMs) : "") + "\n";
    }
    return std::fputs(line.c_str(), file_.get()) >= 0 && std::fflush(file_.get()) == 0;
}

} // namespace vemox::host
