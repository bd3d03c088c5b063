// A property-list value: dictionary with string keys, string, boolean or
// list. Used to describe an aggregate device to a backend.
#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace mivo::audio {

class PropertyValue {
 public:
  using List = std::vector<PropertyValue>;
  // Keys keep their insertion order; lookups are linear (dictionaries here
  // hold a handful of entries).
  using Dictionary = std::vector<std::pair<std::string, PropertyValue>>;

  PropertyValue(std::string text) : value_(std::move(text)) {}
  PropertyValue(const char* text) : value_(std::string(text)) {}
  PropertyValue(bool flag) : value_(flag) {}
  PropertyValue(List list) : value_(std::move(list)) {}
  PropertyValue(Dictionary dictionary) : value_(std::move(dictionary)) {}

  bool isString() const { return std::holds_alternative<std::string>(value_); }
  bool isBool() const { return std::holds_alternative<bool>(value_); }
  bool isList() const { return std::holds_alternative<List>(value_); }
  bool isDictionary() const { return std::holds_alternative<Dictionary>(value_); }

  // Preconditions: the matching is...() holds.
  const std::string& string() const { return std::get<std::string>(value_); }
  bool boolean() const { return std::get<bool>(value_); }
  const List& list() const { return std::get<List>(value_); }
  const Dictionary& dictionary() const { return std::get<Dictionary>(value_); }

  // The entry for key in a dictionary; nullptr when absent or not a dictionary.
  const PropertyValue* find(const std::string& key) const {
    if (!isDictionary()) return nullptr;
    for (const auto& [k, v] : dictionary())
      if (k == key) return &v;
    return nullptr;
  }

  friend bool operator==(const PropertyValue&, const PropertyValue&) = default;

 private:
  std::variant<std::string, bool, List, Dictionary> value_;
};

}  // namespace mivo::audio
