#include "WideFormat.h"

namespace {

// Widths and precisions are taken exactly up to the largest that printf can produce at all,
// so that padding and zeros always come out as they do there; larger ones count as it.
constexpr uint32_t kMaxFieldWidth = INT32_MAX;

class Sink {
  public:
    Sink(char16_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

    void Put(char16_t c) {
        if (len_ + 1 < capacity_) {
            out_[len_++] = c;
        } else {
            cut_ = true;
        }
    }
    void Put(const char16_t* text, size_t count) {
        for (size_t i = 0; i < count && !cut_; ++i) {
            Put(text[i]);
        }
    }
    void Repeat(char16_t c, size_t count) {
        for (size_t i = 0; i < count && !cut_; ++i) {
            Put(c);
        }
    }
    bool Cut() const { return cut_; }
    int Finish() {
        out_[len_] = u'\0';
        return cut_ ? -1 : static_cast<int>(len_);
    }

  private:
    char16_t* out_;
    size_t capacity_;
    size_t len_ = 0;
    bool cut_ = false;
};

struct Field {
    bool left = false;
    bool plus = false;
    bool space = false;
    bool alternate = false;
    bool zero = false;
    uint32_t width = 0;
    bool hasPrecision = false;
    uint32_t precision = 0;
};

class ArgCursor {
  public:
    ArgCursor(const FormatArg* args, size_t count) : args_(args), count_(count) {}
    const FormatArg* Next(FormatArg::Kind kind) {
        if (next_ >= count_ || args_[next_].kind != kind) {
            return nullptr;
        }
        return &args_[next_++];
    }
    size_t Position() const { return next_; }
    void Rewind(size_t position) { next_ = position; }

  private:
    const FormatArg* args_;
    size_t count_;
    size_t next_ = 0;
};

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

uint32_t ReadNumber(const char16_t*& p) {
    uint64_t value = 0;
    while (IsDigit(*p)) {
        value = value * 10 + static_cast<uint32_t>(*p - u'0');
        if (value > kMaxFieldWidth) {
            value = kMaxFieldWidth;
        }
        ++p;
    }
    return static_cast<uint32_t>(value);
}

void SkipLengthModifier(const char16_t*& p) {
    switch (*p) {
    case u'h':
    case u'l':
        ++p;
        if (*p == p[-1]) {
            ++p;
        }
        break;
    case u'L':
    case u'w':
    case u'z':
    case u'j':
    case u't':
        ++p;
        break;
    case u'I':
        ++p;
        if ((p[0] == u'3' && p[1] == u'2') || (p[0] == u'6' && p[1] == u'4')) {
            p += 2;
        }
        break;
    default:
        break;
    }
}

// Writes `body` (already in digits) with sign or prefix, precision and padding.
void PutNumber(Sink& sink, const Field& field, const char16_t* prefix, size_t prefixLen,
               const char16_t* digits, size_t digitCount) {
    size_t zeros = 0;
    if (field.hasPrecision && field.precision > digitCount) {
        zeros = field.precision - digitCount;
    }
    const size_t body = prefixLen + zeros + digitCount;
    const size_t pad = field.width > body ? field.width - body : 0;
    if (!field.left && !(field.zero && !field.hasPrecision)) {
        sink.Repeat(u' ', pad);
    }
    sink.Put(prefix, prefixLen);
    if (!field.left && field.zero && !field.hasPrecision) {
        sink.Repeat(u'0', pad);
    }
    sink.Repeat(u'0', zeros);
    sink.Put(digits, digitCount);
    if (field.left) {
        sink.Repeat(u' ', pad);
    }
}

void PutInteger(Sink& sink, const Field& field, char16_t conversion, uint32_t bits) {
    char16_t digits[16];
    size_t count = 0;
    char16_t prefix[2];
    size_t prefixLen = 0;

    uint32_t magnitude = bits;
    if (conversion == u'd' || conversion == u'i') {
        const bool negative = (bits & 0x80000000u) != 0;
        if (negative) {
            magnitude = 0u - bits;
            prefix[prefixLen++] = u'-';
        } else if (field.plus) {
            prefix[prefixLen++] = u'+';
        } else if (field.space) {
            prefix[prefixLen++] = u' ';
        }
    }
    const uint32_t base = (conversion == u'x' || conversion == u'X') ? 16
                          : conversion == u'o'                       ? 8
                                                                     : 10;
    const char16_t* alphabet = conversion == u'X' ? u"0123456789ABCDEF" : u"0123456789abcdef";
    char16_t reversed[16];
    for (uint32_t v = magnitude; v != 0; v /= base) {
        reversed[count++] = alphabet[v % base];
    }
    // A precision of 0 prints nothing for the value 0; otherwise 0 is one digit.
    if (count == 0 && !(field.hasPrecision && field.precision == 0)) {
        reversed[count++] = u'0';
    }
    for (size_t i = 0; i < count; ++i) {
        digits[i] = reversed[count - 1 - i];
    }
    if (field.alternate && magnitude != 0 && base == 16) {
        prefix[prefixLen++] = u'0';
        prefix[prefixLen++] = conversion;
    } else if (field.alternate && base == 8 && (count == 0 || digits[0] != u'0') &&
               !(field.hasPrecision && field.precision > count)) {
        prefix[prefixLen++] = u'0';
    }
    PutNumber(sink, field, prefix, prefixLen, digits, count);
}

void PutText(Sink& sink, const Field& field, const char16_t* text, size_t length) {
    const size_t pad = field.width > length ? field.width - length : 0;
    if (!field.left) {
        sink.Repeat(field.zero ? u'0' : u' ', pad);
    }
    sink.Put(text, length);
    if (field.left) {
        sink.Repeat(u' ', pad);
    }
}

size_t BoundedLength(const char16_t* text, const Field& field) {
    size_t length = 0;
    while (text[length] != u'\0' && !(field.hasPrecision && length >= field.precision)) {
        ++length;
    }
    return length;
}

// Handles one conversion starting after its '%'. Returns false when it could not be formatted
// (no or wrong argument, unknown conversion); nothing has been written then.
bool Convert(Sink& sink, const char16_t*& p, ArgCursor& args) {
    Field field;
    for (;; ++p) {
        if (*p == u'-') {
            field.left = true;
        } else if (*p == u'+') {
            field.plus = true;
        } else if (*p == u' ') {
            field.space = true;
        } else if (*p == u'#') {
            field.alternate = true;
        } else if (*p == u'0') {
            field.zero = true;
        } else {
            break;
        }
    }
    if (*p == u'*') {
        ++p;
        const FormatArg* arg = args.Next(FormatArg::Kind::Int);
        if (arg == nullptr) {
            return false;
        }
        auto width = static_cast<int32_t>(arg->bits);
        if (width < 0) {
            field.left = true;
            width = width == INT32_MIN ? INT32_MAX : -width;
        }
        field.width = static_cast<uint32_t>(width);
    } else {
        field.width = ReadNumber(p);
    }
    if (*p == u'.') {
        ++p;
        field.hasPrecision = true;
        if (*p == u'*') {
            ++p;
            const FormatArg* arg = args.Next(FormatArg::Kind::Int);
            if (arg == nullptr) {
                return false;
            }
            const auto precision = static_cast<int32_t>(arg->bits);
            if (precision < 0) {
                field.hasPrecision = false; // a negative precision counts as none
            } else {
                field.precision = static_cast<uint32_t>(precision);
            }
        } else {
            field.precision = ReadNumber(p);
        }
    }
    SkipLengthModifier(p);

    const char16_t conversion = *p;
    if (conversion == u'\0') {
        return false;
    }
    ++p;
    // Every conversion takes one argument: a string for s and S, a number for the others. (An
    // unknown conversion fails either way; the caller takes back what it used.)
    const bool wantsString = conversion == u's' || conversion == u'S';
    const FormatArg* arg = args.Next(wantsString ? FormatArg::Kind::Str : FormatArg::Kind::Int);
    if (arg == nullptr) {
        return false;
    }
    switch (conversion) {
    case u'd':
    case u'i':
    case u'u':
    case u'x':
    case u'X':
    case u'o':
        PutInteger(sink, field, conversion, arg->bits);
        return true;
    case u'c':
    case u'C': {
        const auto c = static_cast<char16_t>(arg->bits & 0xFFFFu);
        PutText(sink, Field{.left = field.left, .width = field.width}, &c, 1);
        return true;
    }
    case u's':
    case u'S': {
        const char16_t* text = arg->str != nullptr ? arg->str : u"(null)";
        PutText(sink, field, text, BoundedLength(text, field));
        return true;
    }
    default:
        return false;
    }
}

} // namespace

int FormatWide(char16_t* out, size_t capacity, const char16_t* format, const FormatArg* args,
               size_t argCount) {
    if (out == nullptr || capacity == 0) {
        return -1;
    }
    Sink sink(out, capacity);
    ArgCursor cursor(args, args != nullptr ? argCount : 0);
    const char16_t* p = format != nullptr ? format : u"";
    while (*p != u'\0' && !sink.Cut()) {
        if (*p != u'%') {
            sink.Put(*p++);
            continue;
        }
        const char16_t* start = p++;
        if (*p == u'%') {
            sink.Put(u'%');
            ++p;
            continue;
        }
        const size_t position = cursor.Position();
        if (!Convert(sink, p, cursor)) {
            // Not formattable: the conversion's own text stands and no argument is used.
            cursor.Rewind(position);
            sink.Put(start, static_cast<size_t>(p - start));
        }
    }
    return sink.Finish();
}
