#include "LogDecode.h"

#include "RecordLayout.h"
#include "XTrace.h"

namespace {

// What a scrambled '?' turns back into: the mark for a character the log could not hold.
constexpr char16_t kUnwritable = 0xFFFF;
constexpr char16_t kReplacement = 0xFFFD;

// Only U+0000 to U+00FF (a byte as it stands) and U+FFC0 to U+FFFF (a byte shifted down) reach
// here: never a surrogate.
void AppendUtf8(std::string& out, char16_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | c >> 6));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | c >> 12));
        out.push_back(static_cast<char>(0x80 | (c >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

} // namespace

bool IsScrambledRecord(std::u16string_view line) {
    return RecordLayout::HasScrambledRecordLayout(line);
}

std::string DecodeTraceLog(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::u16string line;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        const bool hasLineEnd = end != std::string_view::npos;
        if (!hasLineEnd) {
            end = bytes.size();
        }
        size_t textEnd = end;
        if (hasLineEnd && textEnd > start && bytes[textEnd - 1] == '\r') {
            --textEnd;
        }
        line.clear();
        for (size_t i = start; i < textEnd; ++i) {
            line.push_back(static_cast<unsigned char>(bytes[i]));
        }
        if (IsScrambledRecord(line)) {
            // A NUL byte would end the shift early; shift around it piece by piece.
            for (size_t piece = 0; piece < line.size();) {
                UnscrambleLine(line.data() + piece);
                piece = line.find(u'\0', piece);
                piece = piece == std::u16string::npos ? line.size() : piece + 1;
            }
            for (char16_t& c : line) {
                if (c == kUnwritable) {
                    c = kReplacement;
                }
            }
        }
        for (char16_t c : line) {
            AppendUtf8(out, c);
        }
        if (hasLineEnd) {
            out.push_back('\n');
        }
        start = end + 1;
    }
    return out;
}
