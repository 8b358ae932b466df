#include "host/gateway/mqtt/MqttTopics.h"

namespace vemox::host {
namespace {

constexpr std::string_view kSetSuffix = "/set";

} // namespace

std::string StatusTopic(const std::string& prefix) {
    return prefix + "/$status";
}

std::string ItemTopic(const std::string& prefix, const std::string& node, const std::string& item) {
    return prefix + "/" + node + "/" + item;
}

std::string HealthTopic(const std::string& prefix, const std::string& node) {
    return prefix + "/" + node + "/$health";
}

std::string SetFilter(const std::string& prefix) {
    return prefix + "/+/+" + std::string(kSetSuffix);
}

std::string ResultTopic(const std::string& setTopic) {
    return setTopic + "/result";
}

std::optional<std::string> ItemOfSetTopic(const std::string& prefix, std::string_view topic) {
    if (topic.size() <= prefix.size() + 1 + kSetSuffix.size() ||
        topic.substr(0, prefix.size()) != prefix || topic[prefix.size()] != '/' ||
        topic.substr(topic.size() - kSetSuffix.size()) != kSetSuffix) {
        return std::nullopt;
    }
    const std::string_view path =
        topic.substr(prefix.size() + 1, topic.size() - prefix.size() - 1 - kSetSuffix.size());
    const std::size_t slash = path.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 == path.size() ||
        path.find('/', slash + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    return std::string(path.substr(0, slash)) + "." + std::string(path.substr(slash + 1));
}

} // namespace vemox::host
