// Reads values out of the configuration file's TOML tables, refusing what does not fit with
// the file, the line and the reason ("plant.toml:12: 'baud' must be a whole number").
#pragma once

#include "host/config/HostConfig.h"

#include <toml++/toml.h>

#include <algorithm>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace vemox::host {

// The TCP port a text names, 1..65535; 0 when it names none ("", "0", "1502x", "99999").
inline int PortNumber(std::string_view text) {
    constexpr int kMaxPort = 65535;
    int port = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || port > kMaxPort) {
            return 0;
        }
        port = port * 10 + (c - '0');
    }
    return port <= kMaxPort ? port : 0;
}

// Everything an error message needs to point at the right place.
class ConfigReader {
public:
    explicit ConfigReader(std::string file) : file_(std::move(file)) {}

    [[noreturn]] void Fail(const toml::source_region& where, const std::string& what) const {
        std::ostringstream text;
        text << file_ << ":" << where.begin.line << ": " << what;
        throw ConfigError(text.str());
    }

    // Refuses keys the section does not know, so a misspelt key is not silently ignored.
    void OnlyKeys(const toml::table& table, const std::string& section,
                  std::initializer_list<std::string_view> known) const {
        for (auto&& [key, value] : table) {
            if (std::find(known.begin(), known.end(), key.str()) == known.end()) {
                Fail(key.source(), "unknown key '" + std::string(key.str()) + "' in " + section);
            }
        }
    }

    std::optional<std::int64_t> Integer(const toml::table& table, std::string_view key,
                                        std::int64_t low, std::int64_t high) const {
        const toml::node* node = table.get(key);
        if (!node) {
            return std::nullopt;
        }
        // The type comes first: converting a float that no 64-bit integer can hold (1e200)
        // is undefined behaviour inside the TOML library.
        if (!node->is_integer()) {
            Fail(node->source(), "'" + std::string(key) + "' must be a whole number");
        }
        const auto value = node->value_exact<std::int64_t>();
        if (*value < low || *value > high) {
            Fail(node->source(), "'" + std::string(key) + "' = " + std::to_string(*value) +
                                     " is outside " + std::to_string(low) + ".." +
                                     std::to_string(high));
        }
        return value;
    }

    std::optional<std::string> Text(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) {
            return std::nullopt;
        }
        if (!node->is_string()) {
            Fail(node->source(), "'" + std::string(key) + "' must be a text in quotes");
        }
        return node->value<std::string>();
    }

    std::string RequiredText(const toml::table& table, std::string_view key,
                             const std::string& section) const {
        auto value = Text(table, key);
        if (!value || value->empty()) {
            Fail(table.source(), section + " needs '" + std::string(key) + "'");
        }
        return *value;
    }

    std::optional<bool> Boolean(const toml::table& table, std::string_view key) const {
        const toml::node* node = table.get(key);
        if (!node) {
            return std::nullopt;
        }
        if (!node->is_boolean()) {
            Fail(node->source(), "'" + std::string(key) + "' must be true or false");
        }
        return node->value<bool>();
    }

    // A section written as [key]; nothing when the file has none.
    const toml::table* Section(const toml::table& root, std::string_view key) const {
        const toml::node* node = root.get(key);
        if (!node) {
            return nullptr;
        }
        const toml::table* table = node->as_table();
        if (!table) {
            Fail(node->source(),
                 "'" + std::string(key) + "' must be a [" + std::string(key) + "] section");
        }
        return table;
    }

    const toml::array* Sections(const toml::table& root, std::string_view key) const {
        const toml::node* node = root.get(key);
        if (!node) {
            return nullptr;
        }
        const toml::array* array = node->as_array();
        if (!array || !array->is_array_of_tables()) {
            Fail(node->source(), "'" + std::string(key) + "' must be written as [[" +
                                     std::string(key) + "]] sections");
        }
        return array;
    }

    // Reads one section; what is wrong with it is kept and reading goes on with the next,
    // so that one look at the file shows every mistake in it.
    template <typename Read> void Collect(Read&& read) const {
        try {
            read();
        } catch (const ConfigError& error) {
            errors_.emplace_back(error.what());
        }
    }

    // Throws one ConfigError with every kept error, a line each.
    void ThrowCollected() const {
        if (errors_.empty()) {
            return;
        }
        std::string text;
        for (const std::string& error : errors_) {
            text += (text.empty() ? "" : "\n") + error;
        }
        throw ConfigError(text);
    }

private:
    std::string file_;
    mutable std::vector<std::string> errors_;
};

} // namespace vemox::host
