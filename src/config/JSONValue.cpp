#include "config/JSONValue.hpp"

namespace meterly::config {

JSONObject::JSONObject() = default;

JSONObject::JSONObject(std::vector<Member> members) {
    for (auto& member : members) {
        set(std::move(member.first), std::move(member.second));
    }
}

JSONObject::JSONObject(std::initializer_list<Member> members) {
    for (const auto& member : members) {
        set(member.first, member.second);
    }
}

const JSONValue* JSONObject::get(std::string_view key) const {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &members_[found->second].second;
}

JSONValue* JSONObject::get(std::string_view key) {
    auto found = index_.find(key);
    return found == index_.end() ? nullptr : &members_[found->second].second;
}

void JSONObject::set(std::string key, JSONValue value) {
    auto found = index_.find(key);
    if (found != index_.end()) {
        members_[found->second].second = std::move(value);
        return;
    }
    index_.emplace(key, members_.size());
    members_.emplace_back(std::move(key), std::move(value));
}

std::optional<JSONValue> JSONObject::removeValue(std::string_view key) {
    auto found = index_.find(key);
    if (found == index_.end()) {
        return std::nullopt;
    }
    const std::size_t position = found->second;
    index_.erase(found);
    JSONValue old = std::move(members_[position].second);
    members_.erase(members_.begin() + static_cast<std::ptrdiff_t>(position));
    for (auto& entry : index_) {
        if (entry.second > position) {
            --entry.second;
        }
    }
    return old;
}

bool JSONObject::contains(std::string_view key) const {
    return index_.find(key) != index_.end();
}

std::vector<std::string> JSONObject::keys() const {
    std::vector<std::string> result;
    result.reserve(members_.size());
    for (const auto& member : members_) {
        result.push_back(member.first);
    }
    return result;
}

bool JSONObject::operator==(const JSONObject& other) const {
    return members_ == other.members_;
}

JSONValue JSONValue::boolean(bool value) {
    JSONValue result;
    result.storage_ = value;
    return result;
}

JSONValue JSONValue::number(std::string text) {
    JSONValue result;
    result.storage_ = Number{std::move(text)};
    return result;
}

JSONValue JSONValue::string(std::string text) {
    JSONValue result;
    result.storage_ = std::move(text);
    return result;
}

JSONValue JSONValue::array(Array elements) {
    JSONValue result;
    result.storage_ = std::move(elements);
    return result;
}

JSONValue JSONValue::object(JSONObject members) {
    JSONValue result;
    result.storage_ = std::move(members);
    return result;
}

const std::string* JSONValue::stringValue() const {
    return std::get_if<std::string>(&storage_);
}

const JSONObject* JSONValue::objectValue() const {
    return std::get_if<JSONObject>(&storage_);
}

JSONObject* JSONValue::objectValue() {
    return std::get_if<JSONObject>(&storage_);
}

const JSONValue::Array* JSONValue::arrayValue() const {
    return std::get_if<Array>(&storage_);
}

const std::string* JSONValue::numberText() const {
    auto number = std::get_if<Number>(&storage_);
    return number == nullptr ? nullptr : &number->text;
}

std::optional<bool> JSONValue::boolValue() const {
    auto value = std::get_if<bool>(&storage_);
    return value == nullptr ? std::nullopt : std::optional<bool>(*value);
}

} // namespace meterly::config
