#include "InfParser.h"

#include "Trim.h"
#include "Utf8.h"

namespace DevSim {

namespace {

constexpr size_t kMaxSectionName = 255;

std::u16string Decode(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::u16string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            text += static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        }
        return text;
    }
    size_t start =
        bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF ? 3 : 0;
    const std::string narrow(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end());
    bool malformed = false;
    std::u16string text = Text::Utf8ToUtf16(narrow, &malformed);
    if (malformed) {
        text.assign(narrow.begin(), narrow.end());
        for (size_t i = 0; i < narrow.size(); ++i) {
            text[i] = static_cast<unsigned char>(narrow[i]);
        }
    }
    return text;
}

bool Blank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == 0x1A;
}

std::u16string Trimmed(const std::u16string& text) {
    return std::u16string(TrimmedView<char16_t>(text, Blank));
}

// One field being read: its unquoted part is trimmed at its ends, its quoted parts kept whole.
struct FieldText {
    std::u16string text;
    size_t keepFrom = 0; // text before this came from quotes and is not trimmed at the end
    bool quoted = false;

    void Add(char16_t c, bool inQuotes) {
        if (!inQuotes && text.size() == keepFrom && !quoted && Blank(c)) {
            return; // leading blanks
        }
        text += c;
        if (inQuotes) {
            keepFrom = text.size();
            quoted = true;
        }
    }
    std::u16string Take() {
        size_t end = text.size();
        while (end > keepFrom && Blank(text[end - 1])) {
            --end;
        }
        std::u16string out = text.substr(0, end);
        *this = FieldText();
        return out;
    }
};

// Splits a logical line (continuations joined, comment not yet removed) into key and fields.
// False when the line is blank or a comment.
bool SplitLine(const std::u16string& line, InfRules::InfLine* out) {
    FieldText field;
    bool inQuotes = false;
    bool keyed = false;
    bool comma = false;
    bool any = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char16_t c = line[i];
        if (c == u'"') {
            if (inQuotes && i + 1 < line.size() && line[i + 1] == u'"') {
                field.Add(u'"', true);
                ++i;
            } else {
                inQuotes = !inQuotes;
                field.quoted = true;
            }
            any = true;
            continue;
        }
        if (!inQuotes && c == u';') {
            break;
        }
        if (!inQuotes && c == u'=' && !keyed && !comma) {
            out->key = field.Take();
            keyed = true;
            any = true;
            continue;
        }
        if (!inQuotes && c == u',') {
            out->fields.push_back(field.Take());
            comma = true;
            any = true;
            continue;
        }
        if (!Blank(c)) {
            any = true;
        }
        field.Add(c, inQuotes);
    }
    if (!any) {
        return false;
    }
    out->fields.push_back(field.Take());
    if (!keyed && out->fields.size() == 1 && out->fields[0].empty()) {
        return false;
    }
    return true;
}

// %strkey% from [Strings]; %% is a percent sign; an unknown token stays as it is.
std::u16string Substitute(const std::u16string& text,
                          const std::vector<InfRules::InfLine>* strings) {
    std::u16string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find(u'%', at);
        if (open == std::u16string::npos) {
            break;
        }
        const size_t close = text.find(u'%', open + 1);
        if (close == std::u16string::npos) {
            break;
        }
        out += text.substr(at, open - at);
        const std::u16string token = text.substr(open + 1, close - open - 1);
        at = close + 1;
        if (token.empty()) {
            out += u'%';
            continue;
        }
        bool found = false;
        if (strings != nullptr) {
            for (const InfRules::InfLine& line : *strings) {
                if (InfRules::Lower(line.key) == InfRules::Lower(token)) {
                    out += line.fields.empty() ? std::u16string() : line.fields[0];
                    found = true;
                    break;
                }
            }
        }
        if (!found) {
            out += u"%" + token + u"%";
        }
    }
    return out + text.substr(at);
}

} // namespace

bool ParsedInf::Section(const std::u16string& name, std::vector<InfRules::InfLine>* lines) const {
    const auto found = sections.find(InfRules::Lower(name));
    if (found == sections.end()) {
        lines->clear();
        return false;
    }
    *lines = found->second;
    return true;
}

uint32_t ParseInf(const std::vector<uint8_t>& bytes, ParsedInf* out, uint32_t* errorLine) {
    *errorLine = 0;
    ParsedInf inf;
    const std::u16string text = Decode(bytes);
    std::vector<InfRules::InfLine>* section = nullptr;
    uint32_t number = 0;
    size_t at = 0;
    while (at <= text.size()) {
        // A logical line: a line ending in a backslash outside quotes goes on on the next one.
        std::u16string line;
        const uint32_t first = number + 1;
        for (;;) {
            size_t end = text.find(u'\n', at);
            if (end == std::u16string::npos) {
                end = text.size();
            }
            std::u16string part = text.substr(at, end - at);
            at = end + 1;
            ++number;
            bool inQuotes = false;
            size_t content = part.size();
            for (size_t i = 0; i < part.size(); ++i) {
                if (part[i] == u'"') {
                    inQuotes = !inQuotes;
                } else if (part[i] == u';' && !inQuotes) {
                    content = i;
                    break;
                }
            }
            std::u16string kept = Trimmed(part.substr(0, content));
            if (!kept.empty() && kept.back() == u'\\' && at <= text.size()) {
                kept.pop_back();
                line += kept;
                continue;
            }
            line += part;
            break;
        }
        const std::u16string trimmed = Trimmed(line);
        if (trimmed.empty() || trimmed[0] == u';') {
            continue;
        }
        if (trimmed[0] == u'[') {
            const size_t close = trimmed.find(u']');
            if (close == std::u16string::npos) {
                *errorLine = first;
                return kErrorBadSectionNameLine;
            }
            const std::u16string name = Trimmed(trimmed.substr(1, close - 1));
            if (name.size() > kMaxSectionName) {
                *errorLine = first;
                return kErrorSectionNameTooLong;
            }
            section = &inf.sections[InfRules::Lower(name)];
            continue;
        }
        InfRules::InfLine parsed;
        if (!SplitLine(line, &parsed)) {
            continue;
        }
        if (section == nullptr) {
            *errorLine = first;
            return kErrorExpectedSectionName;
        }
        section->push_back(std::move(parsed));
    }
    const auto strings = inf.sections.find(u"strings");
    const std::vector<InfRules::InfLine>* table =
        strings == inf.sections.end() ? nullptr : &strings->second;
    for (auto& [name, lines] : inf.sections) {
        if (name == u"strings") {
            continue;
        }
        for (InfRules::InfLine& line : lines) {
            line.key = Substitute(line.key, table);
            for (std::u16string& field : line.fields) {
                field = Substitute(field, table);
            }
        }
    }
    std::vector<InfRules::InfLine> version;
    bool signed_ = false;
    if (inf.Section(u"Version", &version)) {
        for (const InfRules::InfLine& line : version) {
            const std::u16string value =
                line.fields.empty() ? std::u16string() : InfRules::Lower(line.fields[0]);
            if (InfRules::Lower(line.key) == u"signature" &&
                (value == u"$windows nt$" || value == u"$chicago$")) {
                signed_ = true;
            }
        }
    }
    if (!signed_) {
        return kErrorWrongInfStyle;
    }
    *out = std::move(inf);
    return 0;
}

} // namespace DevSim
