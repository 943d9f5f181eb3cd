// The stack guard that -fstack-protector-strong checks in the launcher's
// functions: seeded once before WinMain, and a smashed stack ends the process
// at once, as Windows' own guard ends it. GCC's libssp would seed it through
// a whole cryptographic provider and report through a console that a GUI
// process does not have.
#include <windows.h>
#include <ntsecapi.h>
#include <stdint.h>

extern "C" {

uintptr_t __stack_chk_guard;

// Not guarded itself: it changes the guard that it would check on return.
__attribute__((constructor, no_stack_protector)) static void SeedStackGuard()
{
    // RtlGenRandom is the system's random source, from Windows XP on.
    uintptr_t seed = 0;
    if (!RtlGenRandom(&seed, sizeof seed) || seed == 0) {
        // What else differs from one process to the next, as Microsoft's
        // runtime seeds its cookie.
        FILETIME time;
        GetSystemTimeAsFileTime(&time);
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        seed = static_cast<uintptr_t>(static_cast<uint64_t>(time.dwHighDateTime) << 32 ^
                                      time.dwLowDateTime ^ GetCurrentProcessId() ^
                                      static_cast<uint64_t>(GetCurrentThreadId()) << 16 ^
                                      GetTickCount() ^ static_cast<uint64_t>(counter.QuadPart));
    }
    __stack_chk_guard = seed;
}

// A system that lacks the fast-fail instruction but claims it, as 32-bit Wine
// does, takes it for an access violation: the last filter of the process then
// ends it with the same status, before a debugger is asked to take it on.
static LONG WINAPI EndAsOverrun(EXCEPTION_POINTERS*)
{
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    return EXCEPTION_CONTINUE_SEARCH;
}

// Ends the process without running any of its code on the smashed stack.
// __fastfail raises no exception that a handler could catch; before Windows 8
// the processor feature is absent and TerminateProcess ends it with the same
// status.
__attribute__((noreturn, no_stack_protector)) void __stack_chk_fail()
{
    if (IsProcessorFeaturePresent(PF_FASTFAIL_AVAILABLE)) {
        SetUnhandledExceptionFilter(EndAsOverrun);
        __asm__ volatile("int $0x29" : : "c"(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE) : "memory");
    }
    TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
    __builtin_unreachable();
}

} // extern "C"
