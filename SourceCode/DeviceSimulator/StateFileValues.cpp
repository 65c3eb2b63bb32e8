#include "StateFileValues.h"

#include "Trim.h"

namespace DevSim::StateFileValues {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

namespace {

bool IsLayout(char c) {
    return IsBlank(c) || c == '\r';
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string Trim(const std::string& text) {
    return std::string(TrimmedView<char>(text, IsLayout));
}

std::vector<std::string> SplitBlanks(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    for (char c : text) {
        if (IsBlank(c)) {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

bool ParseNumber(const std::string& text, uint32_t* out) {
    uint64_t value = 0;
    size_t pos = 0;
    uint32_t base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        pos = 2;
    }
    if (pos >= text.size()) {
        return false;
    }
    for (; pos < text.size(); ++pos) {
        int digit = HexDigit(text[pos]);
        if (digit < 0 || static_cast<uint32_t>(digit) >= base) {
            return false;
        }
        value = value * base + static_cast<uint32_t>(digit);
        if (value > 0xFFFFFFFFu) {
            return false;
        }
    }
    *out = static_cast<uint32_t>(value);
    return true;
}

bool ParseHexBytes(const std::string& text, std::vector<uint8_t>* out) {
    out->clear();
    for (const std::string& word : SplitBlanks(text)) {
        if (word.size() != 2 || HexDigit(word[0]) < 0 || HexDigit(word[1]) < 0) {
            return false;
        }
        out->push_back(static_cast<uint8_t>(HexDigit(word[0]) * 16 + HexDigit(word[1])));
    }
    return true;
}

} // namespace DevSim::StateFileValues
