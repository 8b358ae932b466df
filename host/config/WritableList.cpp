#include "host/config/WritableList.h"

#include <set>

namespace vemox::host {

std::vector<std::string> ReadWritableList(const ConfigReader& reader, const toml::table& table,
                                          const std::vector<ItemConfig>& items) {
    std::vector<std::string> writable;
    const toml::node* node = table.get("writable");
    if (!node) {
        return writable;
    }
    const toml::array* list = node->as_array();
    if (!list) {
        reader.Fail(node->source(), "'writable' must be a list of item names, [\"NODE.ITEM\"]");
    }
    std::set<std::string> listed;
    for (const toml::node& entry : *list) {
        if (!entry.is_string()) {
            reader.Fail(entry.source(), "'writable' lists item names in quotes, \"NODE.ITEM\"");
        }
        const auto name = entry.value<std::string>();
        const auto found = std::find_if(items.begin(), items.end(), [&](const ItemConfig& item) {
            return item.FullName() == *name;
        });
        if (found == items.end()) {
            reader.Fail(entry.source(),
                        "'writable' names '" + *name + "', which no [[item]] section defines");
        }
        // A link figure is judged on its own terms, so the counters' reset can be listed.
        if (!found->Writable()) {
            reader.Fail(entry.source(),
                        "'writable' names '" + *name + "', which cannot be written");
        }
        if (listed.insert(*name).second) {
            writable.push_back(*name);
        }
    }
    return writable;
}

} // namespace vemox::host
