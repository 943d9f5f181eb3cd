// The stack guard that -fstack-protector-strong checks in the launcher's
// functions: seeded once before WinMain, and a smashed stack ends the process
// at once, as Windows' own guard ends it. GCC's libssp would seed it through
// a whole cryptographic provider and report through a console that a GUI
// process does not have.
#include <windows.h>
#include <stdint.h>

extern "C" {

uintptr_t __stack_chk_guard;

// A 64-bit value in the guard's width: on 32-bit Windows its high half is
// folded into the low one rather than lost.
static inline uintptr_t Fold(uint64_t value)
{
    return static_cast<uintptr_t>(sizeof(uintptr_t) < sizeof value ? value ^ value >> 32 : value);
}

// Not guarded itself: it changes the guard that it would check on return.
// Seeded as Microsoft's runtime seeds its cookie, from what differs between
// processes, through KERNEL32 alone: ADVAPI32's RtlGenRandom is cryptbase.dll's
// from Windows 7 on, which is not a known DLL, so the loader would look for it
// in the launcher's own folder before any of the launcher's code runs.
__attribute__((constructor, no_stack_protector)) static void SeedStackGuard()
{
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    const uintptr_t seed =
        Fold(static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime) ^
        GetCurrentProcessId() ^ Fold(static_cast<uint64_t>(GetCurrentThreadId()) << 16) ^
        GetTickCount() ^ Fold(static_cast<uint64_t>(counter.QuadPart));
    // Never 0, the guard of a process that was never seeded.
    __stack_chk_guard = seed != 0 ? seed : 0xBB40E64Eu;
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
