// Windows console entry with a wide argument vector (linked with -municode): a log's name
// outside the ANSI code page reaches the decoder as it is.
#include <string>
#include <vector>

#include "DecodeCommand.h"
#include "DllSearch.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

int wmain(int argc, wchar_t** argv) {
    LimitDllSearchToSystemFolder();
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    }
    return RunTraceLogDecode(arguments);
}
