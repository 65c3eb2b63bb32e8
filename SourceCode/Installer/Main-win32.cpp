// Windows console entry with a wide argument vector (linked with -municode).
#include "DllSearch.h"
#include "Entry.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t));

int wmain(int argc, wchar_t** argv) {
    LimitDllSearchToSystemFolder();
    return Installer::_tmain(argc, reinterpret_cast<const char16_t* const*>(argv));
}
