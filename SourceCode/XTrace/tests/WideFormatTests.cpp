#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "WideFormat.h"

namespace {

std::u16string Format(const char16_t* format, std::vector<FormatArg> args = {},
                      size_t capacity = 4096, int* result = nullptr) {
    std::u16string out(capacity, u'#');
    const int n = FormatWide(out.data(), capacity, format, args.data(), args.size());
    if (result != nullptr) {
        *result = n;
    }
    return out.substr(0, std::char_traits<char16_t>::length(out.c_str()));
}

TEST(WideFormat, ConversionsMeanWhatTheWindowsWidePrintfMakesThemMean) {
    EXPECT_EQ(Format(u"%s|%d|%x", {u"wide", -5, 255u}), u"wide|-5|ff");
    EXPECT_EQ(Format(u"%x", {-1}), u"ffffffff");
    EXPECT_EQ(Format(u"%d", {0xFFFFFFFFu}), u"-1");
    EXPECT_EQ(Format(u"%d %u", {INT32_MIN, 4000000000u}), u"-2147483648 4000000000");
    EXPECT_EQ(Format(u"%X %o %c %%|", {0xABCu, 8, u'Z'}), u"ABC 10 Z %|");
    EXPECT_EQ(Format(u"%S %ls %ws", {u"a", u"b", u"c"}), u"a b c");
    EXPECT_EQ(Format(u"%s", {static_cast<const char16_t*>(nullptr)}), u"(null)");
}

TEST(WideFormat, FlagsWidthsAndPrecisions) {
    EXPECT_EQ(Format(u"%19s(%04d)", {u"Sample", 7}), u"             Sample(0007)");
    EXPECT_EQ(Format(u"%3s", {u"longer than three"}), u"longer than three");
    EXPECT_EQ(Format(u"[%-5d][%5d][%05d][%04d]", {42, 42, 42, -7}), u"[42   ][   42][00042][-007]");
    EXPECT_EQ(Format(u"[%+d][% d][%#x][%#o][%.3d][%.0d]", {5, 5, 255u, 8, 7, 0}),
              u"[+5][ 5][0xff][010][007][]");
    EXPECT_EQ(Format(u"[%.2s][%*d][%-*d][%.*s]", {u"abc", 4, 1, 3, 2, 1, u"xyz"}),
              u"[ab][   1][2  ][x]");
    EXPECT_EQ(Format(u"%I64x %lx %hd %lld %I32d %Ix2d", {1u, 2u, 3, 4, 5, 255u}),
              u"1 2 3 4 5 ff2d");
    EXPECT_EQ(Format(u"[%-4s][%-3c]", {u"ab", u'z'}), u"[ab  ][z  ]");
    // A negative precision argument counts as none; a zero one prints nothing for 0.
    EXPECT_EQ(Format(u"[%.*d][%.*d]", {-1, 0, 0, 0}), u"[0][]");
}

TEST(WideFormat, ConversionsWithoutTheirArgumentStayAsTextAndReadNothing) {
    // More conversions than arguments: the extras stand as written.
    EXPECT_EQ(Format(u"%d and %s", {3}), u"3 and %s");
    EXPECT_EQ(Format(u"a%sb%04dc"), u"a%sb%04dc");
    // A wrong kind consumes nothing, so the next conversion still gets that argument.
    EXPECT_EQ(Format(u"%s=%d", {9}), u"%s=9");
    EXPECT_EQ(Format(u"%d %s", {u"text"}), u"%d text");
    // Conversions no record ever uses are never interpreted.
    EXPECT_EQ(Format(u"%n %p %f %q", {1, 2, 3, 4}), u"%n %p %f %q");
    EXPECT_EQ(Format(u"%*d", {u"width"}), u"%*d");
    EXPECT_EQ(Format(u"%c|%.*s|%s", {u"x"}), u"%c|%.*s|x");
    int result = 0;
    EXPECT_EQ(Format(u"ends with %", {}, 4096, &result), u"ends with %");
    EXPECT_EQ(result, 11);
    EXPECT_EQ(Format(u"ends with %-0", {}, 4096, &result), u"ends with %-0");
    EXPECT_EQ(result, 13);
    EXPECT_EQ(Format(nullptr), u"");
}

TEST(WideFormat, OutputIsCutToCapacityAndAlwaysTerminated) {
    int result = 0;
    const std::u16string fits(4095, u'a');
    EXPECT_EQ(Format(u"%s", {fits.c_str()}, 4096, &result), fits);
    EXPECT_EQ(result, 4095);

    const std::u16string longer(5000, u'b');
    EXPECT_EQ(Format(u"%s", {longer.c_str()}, 4096, &result), std::u16string(4095, u'b'));
    EXPECT_EQ(result, -1);

    // Padding is cut the same way and is exact however wide the field: the cut output is the
    // start of what printf gives.
    for (const char* format : {"%2000000.1048000d", "%1048590.1048580d", "%-1048590.1048580x",
                               "%01048590d", "%+.1048590d"}) {
        char expected[64];
        std::snprintf(expected, sizeof(expected), format, 1);
        const std::u16string wide(format, format + std::strlen(format));
        EXPECT_EQ(Format(wide.c_str(), {1}, 64, &result), std::u16string(expected, expected + 63))
            << format;
        EXPECT_EQ(result, -1);
    }
    // Up to the largest field printf can produce, and beyond it, a width neither hangs nor
    // overflows.
    EXPECT_EQ(Format(u"%-2147483647d|", {1}, 16, &result), u"1" + std::u16string(14, u' '));
    EXPECT_EQ(Format(u"%99999999999d", {1}, 16, &result), std::u16string(15, u' '));
    EXPECT_EQ(result, -1);
    EXPECT_EQ(Format(u"xy", {}, 1, &result), u"");
    EXPECT_EQ(result, -1);
    char16_t none = u'#';
    EXPECT_EQ(FormatWide(&none, 0, u"xy", nullptr, 0), -1);
    EXPECT_EQ(none, u'#');
}

} // namespace
