#include "config/InfoPlist.hpp"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <plist/plist.h>
#include <system_error>
#include <vector>

namespace meterly::config {

namespace {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

} // namespace

std::optional<InfoPlist> InfoPlist::read(const std::filesystem::path& file) {
    std::error_code error;
    auto size = std::filesystem::file_size(file, error);
    if (error || size == 0 || size > maxSize) {
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.empty() || bytes.size() > maxSize) {
        return std::nullopt;
    }
    plist_t raw = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
    PlistPtr root(raw);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT) {
        return std::nullopt;
    }
    InfoPlist result;
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &item);
        if (key == nullptr) {
            break;
        }
        std::string name(key);
        std::free(key);
        if (item != nullptr && plist_get_node_type(item) == PLIST_STRING) {
            char* value = nullptr;
            plist_get_string_val(item, &value);
            if (value != nullptr) {
                result.strings_.emplace(std::move(name), value);
                std::free(value);
            }
        }
    }
    std::free(iterator);
    return result;
}

std::optional<std::string> InfoPlist::string(const std::string& key) const {
    auto it = strings_.find(key);
    if (it == strings_.end()) {
        return std::nullopt;
    }
    return it->second;
}

} // namespace meterly::config
