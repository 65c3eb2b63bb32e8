// The companions' one JSON writer, so that every report writes its strings, numbers and keys
// the same way: keys in lowerCamelCase, strings escaped as RFC 8259 wants, nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// `text` as a JSON string, quotes included. Control characters and unpaired surrogates, which no
// encoding can carry, are written as \u escapes.
std::u16string JsonString(const std::u16string& text);
std::u16string JsonBool(bool value);
// `items`, each already JSON, as an array.
std::u16string JsonArray(const std::vector<std::u16string>& items);
// `texts` as an array of JSON strings.
std::u16string JsonStrings(const std::vector<std::u16string>& texts);

// An object written field by field, in the order of the calls.
class JsonObject {
  public:
    // `json` is already a JSON value. `key` is lowerCamelCase (checked in debug builds).
    JsonObject& Value(std::u16string_view key, const std::u16string& json);
    JsonObject& String(std::u16string_view key, const std::u16string& text);
    // null for an empty text.
    JsonObject& StringOrNull(std::u16string_view key, const std::u16string& text);
    JsonObject& Bool(std::u16string_view key, bool value);
    JsonObject& Number(std::u16string_view key, uint64_t value);
    // The object written, braces included.
    std::u16string Close() const;

  private:
    std::u16string fields_;
};
