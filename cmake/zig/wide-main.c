// The wide entry that -municode stands for: wmain(argc, argv) with the command line split by the
// C runtime (msvcrt's __wgetmainargs, no wildcard expansion), as mingw-w64's wide start-up code
// does. zig 0.11's start-up code for ARM64 Windows always enters through main, so the c++
// wrapper links this file into the programs linked with -municode.
//
// It also gives the stack protector a canary of the process's own before wmain runs: zig 0.11's
// (its ssp) is the same fixed value in every program. The new one comes from RtlGenRandom
// (ADVAPI32's SystemFunction036), its lowest byte kept zero so that a string copy still stops
// at it. main itself has no canary: its frame is the one frame whose canary would change under
// it. Functions that return before this (static constructors) checked the fixed one; the start-up
// code below main never returns (it calls exit).
#include <stdint.h>
#include <wchar.h>

typedef struct {
    int newmode;
} wide_main_startup_info;

int __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** environment, int wildcards,
                   wide_main_startup_info* info);
unsigned char __stdcall SystemFunction036(void* buffer, unsigned long length);
extern uintptr_t __stack_chk_guard;
int wmain(int argc, wchar_t** argv);

__attribute__((no_stack_protector)) int main(void) {
    uintptr_t canary = 0;
    if (SystemFunction036(&canary, sizeof canary)) {
        __stack_chk_guard = canary & ~(uintptr_t)0xff;
    }
    int argc = 0;
    wchar_t** argv = 0;
    wchar_t** environment = 0;
    wide_main_startup_info info = {0};
    if (__wgetmainargs(&argc, &argv, &environment, 0, &info) < 0) {
        return 255;
    }
    return wmain(argc, argv);
}
