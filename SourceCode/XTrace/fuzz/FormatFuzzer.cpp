// The wide formatter with arbitrary formats, arguments of both kinds and capacities from 1 to
// 4096. Every output must be terminated inside its buffer, and a cut output must be the start
// of what a larger buffer gets, with a result that says whether it was cut.
//
// Input: capacity (2 bytes), argument count (1 byte, at most 8), the arguments, the format.
// An argument starts with a kind byte: even is an integer (4 bytes follow), odd a string (a
// length byte follows, 0xFF for a null string, then its text).
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "FuzzSupport.h"
#include "WideFormat.h"

namespace {

constexpr size_t kMaxCapacity = 4096;
constexpr size_t kMaxArgs = 8;
// Larger than every capacity tried: the output the cut ones are compared with.
constexpr size_t kReferenceCapacity = 2 * kMaxCapacity;

// The argument array is allocated to its exact size, so that the sanitizer sees any read past
// the last argument.
struct ArgArray {
    explicit ArgArray(const std::vector<FormatArg>& args)
        : count(args.size()),
          items(count == 0 ? nullptr
                           : static_cast<FormatArg*>(::operator new(count * sizeof(FormatArg)))) {
        for (size_t i = 0; i < count; ++i) {
            new (&items[i]) FormatArg(args[i]);
        }
    }
    ~ArgArray() { ::operator delete(items); }
    ArgArray(const ArgArray&) = delete;
    ArgArray& operator=(const ArgArray&) = delete;

    size_t count;
    FormatArg* items;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const size_t capacity = in.Half() % kMaxCapacity + 1;
    const size_t argCount = in.Byte() % (kMaxArgs + 1);
    std::vector<std::unique_ptr<char16_t[]>> strings;
    std::vector<FormatArg> args;
    for (size_t i = 0; i < argCount; ++i) {
        if (in.Byte() % 2 == 0) {
            args.emplace_back(in.Word());
            continue;
        }
        const uint8_t length = in.Byte();
        if (length == 0xFF) {
            args.emplace_back(static_cast<const char16_t*>(nullptr));
            continue;
        }
        strings.push_back(ExactText(in.Text(length)));
        args.emplace_back(static_cast<const char16_t*>(strings.back().get()));
    }
    const std::unique_ptr<char16_t[]> format = ExactText(in.RestText());
    const ArgArray packed(args);

    const std::unique_ptr<char16_t[]> out(new char16_t[capacity]);
    const int result = FormatWide(out.get(), capacity, format.get(), packed.items, packed.count);
    FUZZ_CHECK(result == -1 || (result >= 0 && static_cast<size_t>(result) < capacity));
    const size_t written = result >= 0 ? static_cast<size_t>(result) : capacity - 1;
    FUZZ_CHECK(out[written] == u'\0');

    std::vector<char16_t> reference(kReferenceCapacity);
    const int full =
        FormatWide(reference.data(), reference.size(), format.get(), packed.items, packed.count);
    FUZZ_CHECK(full == -1 || (full >= 0 && static_cast<size_t>(full) < reference.size()));
    FUZZ_CHECK(std::memcmp(out.get(), reference.data(), written * sizeof(char16_t)) == 0);
    if (full >= 0) {
        // Cut exactly when the whole text and its terminator do not fit.
        FUZZ_CHECK(result == (static_cast<size_t>(full) < capacity ? full : -1));
    } else {
        FUZZ_CHECK(result == -1);
    }

    // Text without conversions is copied as it stands.
    if (std::u16string_view(format.get()).find(u'%') == std::u16string_view::npos) {
        FUZZ_CHECK(std::u16string_view(out.get(), written) ==
                   std::u16string_view(format.get()).substr(0, written));
    }
    return 0;
}
