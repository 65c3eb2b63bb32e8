#include "ReportFields.h"

std::u16string Hex(uint32_t value, int digits) {
    std::u16string text;
    do {
        text.insert(text.begin(), u"0123456789abcdef"[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    while (static_cast<int>(text.size()) < digits) {
        text.insert(text.begin(), u'0');
    }
    return text;
}

std::u16string Decimal(uint64_t value) {
    std::u16string text;
    do {
        text.insert(text.begin(), static_cast<char16_t>(u'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return text;
}

std::u16string Count(size_t n, const char16_t* one, const char16_t* many) {
    return Decimal(n) + u" " + (n == 1 ? one : many);
}

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
            // Control characters and unpaired surrogates, which no encoding can carry, are
            // written as escapes.
            json += u"\\u" + Hex(c, 4);
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

std::u16string RequestLine(const std::u16string& command, const PackageRequest& request,
                           const std::u16string& rule) {
    std::u16string text = command + u" for hardware ID \"" + request.csHwID + u"\"";
    if (request.requestedId != request.csHwID) {
        text += u" (given as \"" + request.requestedId + u"\")";
    }
    return text + u", " + rule + u" rule, INF \"" + request.inf + u"\"\n";
}
