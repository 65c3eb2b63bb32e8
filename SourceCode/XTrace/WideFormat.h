// Our own printf-style formatter for UTF-16 text.
//
// The trace's formats follow the Windows wide printf: "%s" takes a wide string, "%d" a signed
// 32-bit integer, "%x" an unsigned 32-bit integer in lower-case hex. Implementing this here,
// rather than handing formats to the platform's printf, makes every build produce the same text
// and lets the formatter check every conversion against the arguments it was actually given.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>

// One argument of a formatted record. Only 32-bit integers and wide strings exist in the
// system's formats; anything else is rejected at compile time.
struct FormatArg {
    enum class Kind : uint8_t { Int, Str };

    Kind kind;
    uint32_t bits = 0;             // Int: the value's 32 bits, reinterpreted per conversion
    const char16_t* str = nullptr; // Str: zero-terminated; nullptr is shown as "(null)"

    template <std::integral T>
    requires(sizeof(T) <= 4) constexpr FormatArg(T value)
        : kind(Kind::Int), bits(static_cast<uint32_t>(value)) {}
    constexpr FormatArg(const char16_t* value) : kind(Kind::Str), str(value) {}
    FormatArg(const std::u16string& value) : kind(Kind::Str), str(value.c_str()) {}
};

// Formats `format` with `args` into `out`, which holds `capacity` characters (capacity >= 1).
// At most capacity - 1 characters are written and the result is always terminated.
// Returns the number of characters written, or -1 when the text was cut to fit.
//
// Supported: %[flags][width][.precision][length]conv with flags "-+ #0", width and precision as
// digits or '*', length modifiers h hh l ll L w z j t I I32 I64 (accepted and ignored), and the
// conversions d i u x X o c C s S and %%. Widths and precisions are exact up to 2147483647, the
// largest printf can produce, so that a cut output is the start of printf's; larger ones count
// as 2147483647. A conversion that has no matching argument, whose
// argument is of the wrong kind, or that is not supported (n, p, floating point, ...) is copied
// to the output as it stands and consumes nothing, so no conversion ever reads beyond the
// arguments that were passed.
int FormatWide(char16_t* out, size_t capacity, const char16_t* format, const FormatArg* args,
               size_t argCount);
