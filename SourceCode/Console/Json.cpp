#include "Json.h"

#include <cassert>

#include "Numbers.h"

namespace {

[[maybe_unused]] bool IsLowerCamelCase(std::u16string_view key) {
    if (key.empty() || key[0] < u'a' || key[0] > u'z') {
        return false;
    }
    for (const char16_t c : key) {
        const bool letterOrDigit =
            (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
        if (!letterOrDigit) {
            return false;
        }
    }
    return true;
}

} // namespace

std::u16string JsonString(const std::u16string& text) {
    std::u16string json = u"\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        const bool high = c >= 0xD800 && c <= 0xDBFF;
        const bool paired =
            high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (c == u'"' || c == u'\\') {
            json += u'\\';
            json += c;
        } else if (c < 0x20 || (c >= 0xD800 && c <= 0xDFFF && !paired)) {
            json += u"\\u" + Text::Hex(c, 4);
        } else if (paired) {
            json += c;
            json += text[++i];
        } else {
            json += c;
        }
    }
    return json + u"\"";
}

std::u16string JsonBool(bool value) {
    return value ? u"true" : u"false";
}

std::u16string JsonArray(const std::vector<std::u16string>& items) {
    std::u16string json = u"[";
    for (size_t i = 0; i < items.size(); ++i) {
        json += (i == 0 ? u"" : u",") + items[i];
    }
    return json + u"]";
}

std::u16string JsonStrings(const std::vector<std::u16string>& texts) {
    std::vector<std::u16string> items;
    for (const std::u16string& text : texts) {
        items.push_back(JsonString(text));
    }
    return JsonArray(items);
}

JsonObject& JsonObject::Value(std::u16string_view key, const std::u16string& json) {
    assert(IsLowerCamelCase(key));
    fields_ += (fields_.empty() ? u"\"" : u",\"") + std::u16string(key) + u"\":" + json;
    return *this;
}

JsonObject& JsonObject::String(std::u16string_view key, const std::u16string& text) {
    return Value(key, JsonString(text));
}

JsonObject& JsonObject::StringOrNull(std::u16string_view key, const std::u16string& text) {
    return Value(key, text.empty() ? u"null" : JsonString(text));
}

JsonObject& JsonObject::Bool(std::u16string_view key, bool value) {
    return Value(key, JsonBool(value));
}

JsonObject& JsonObject::Number(std::u16string_view key, uint64_t value) {
    return Value(key, Text::Decimal(value));
}

std::u16string JsonObject::Close() const {
    return u"{" + fields_ + u"}";
}
