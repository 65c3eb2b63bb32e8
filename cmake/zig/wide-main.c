// The wide entry that -municode stands for: wmain(argc, argv) with the command line split by the
// C runtime (msvcrt's __wgetmainargs, no wildcard expansion), as mingw-w64's wide start-up code
// does. zig 0.11's start-up code for ARM64 Windows always enters through main, so the c++
// wrapper links this file into the programs linked with -municode.
#include <wchar.h>

typedef struct {
    int newmode;
} wide_main_startup_info;

int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int wildcards,
                   wide_main_startup_info* info);
int wmain(int argc, wchar_t** argv);

int main(void) {
    int argc = 0;
    wchar_t** argv = 0;
    wchar_t** environment = 0;
    wide_main_startup_info info = {0};
    if (__wgetmainargs(&argc, &argv, &environment, 0, &info) < 0) {
        return 255;
    }
    return wmain(argc, argv);
}
