// Test helper built as the launcher is, with its stack guard:
//
//   Guarded overflow     writes past a local array, on past the guard and the
//                        return address: the guard must end the process
//   Guarded guard FILE   appends its guard value, in hex, to FILE
#include <windows.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

extern "C" uintptr_t __stack_chk_guard;

namespace {

// The index is volatile, so that the compiler can't see the write run past
// the array; the array is, so that the writes can't be left out.
__attribute__((noinline)) void Overflow(size_t reach)
{
    [[maybe_unused]] volatile char area[16];
    for (volatile size_t at = 0; at < reach; at = at + 1)
        area[at] = 'Q';
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int)
{
    if (strcmp(commandLine, "overflow") == 0) {
        Overflow(16 + 64);
        return 0;
    }
    if (strncmp(commandLine, "guard ", 6) != 0)
        return 2;
    FILE* file = fopen(commandLine + 6, "ab");
    if (file == nullptr)
        return 2;
    fprintf(file, "%llx\n", static_cast<unsigned long long>(__stack_chk_guard));
    fclose(file);
    return 0;
}
