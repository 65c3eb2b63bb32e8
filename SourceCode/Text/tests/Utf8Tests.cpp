// The one UTF-8 conversion both host stand-ins use: the trace reads malformed text with U+FFFD
// in place, the simulator refuses it on the `malformed` flag, so the flag must be set exactly
// when a replacement stands for bad input (never for a U+FFFD the input really holds).
#include <gtest/gtest.h>

#include <string>

#include "Utf8.h"

using Text::Utf16ToUtf8;
using Text::Utf8ToUtf16;

TEST(Utf8, DecodesAndFlagsEachMalformedSequenceAsOneReplacement) {
    struct Case {
        std::string in;
        std::u16string out;
        bool malformed;
    };
    const Case cases[] = {
        {"", u"", false},
        {"a\x7F", u"a\x7F", false},
        {"caf\xC3\xA9 \xE2\x82\xAC", u"caf\u00E9 \u20AC", false},
        {"\xF0\x9F\x98\x80", u"\U0001F600", false},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF", false},
        {"\xEF\xBF\xBD", u"\uFFFD", false},    // a real U+FFFD is not an error
        {"a\200b", u"a\uFFFDb", true},         // stray continuation byte (octal 200 = 0x80)
        {"\xFF\xF8", u"\uFFFD\uFFFD", true},   // bytes that never begin a sequence
        {"\xC0\xAF", u"\uFFFD", true},         // overlong '/'
        {"\xE0\x80\x80", u"\uFFFD", true},     // overlong NUL
        {"\xED\xA0\x80", u"\uFFFD", true},     // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD", true}, // above U+10FFFF
        {"\342\202x", u"\uFFFDx", true},       // cut short (E2 82), the next byte kept
        {"ok\xF0\x9F\x98", u"ok\uFFFD", true}, // cut short by the end
    };
    for (const Case& c : cases) {
        bool malformed = !c.malformed;
        EXPECT_EQ(Utf8ToUtf16(c.in, &malformed), c.out) << c.in;
        EXPECT_EQ(malformed, c.malformed) << c.in;
        EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
    }
}

TEST(Utf8, EncodesPairsAndReplacesUnpairedSurrogates) {
    EXPECT_EQ(Utf16ToUtf8(u"caf\u00E9 \u20AC\U0001F600"),
              "caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\357\277\275b"); // U+FFFD
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDC00), char16_t(0xD83D)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
    const std::u16string all = u"x\u0080\u07FF\u0800\uFFFF\U00010000\U0010FFFF";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(all)), all);
}
