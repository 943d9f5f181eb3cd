// A null launcher: starts the bench target with a fixed command line and exits
// without waiting, the least that any launcher must do. Built with
// BENCH_SHELL_LOOKUP it first asks the shell for the target's path with
// FindExecutableA, as QuendRun does, and starts what that returns. Given no
// argument it returns at once, as QuendRun does: the least that a process of
// its kind costs from start to exit.
//
// The start-up record, flags and handles are QuendRun's, so that the only
// difference left between these and QuendRun is the launcher's own work.
#include <windows.h>
#ifdef BENCH_SHELL_LOOKUP
#include <shellapi.h>
#endif
#include <string.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR argument, int)
{
    if (*argument == '\0')
        return 0;
    char program[MAX_PATH] = BENCH_TARGET_PATH;
#ifdef BENCH_SHELL_LOOKUP
    if (reinterpret_cast<INT_PTR>(FindExecutableA(BENCH_TARGET_PATH, "", program)) <= 32)
        return -1;
    program[MAX_PATH - 1] = '\0';
#endif
    // The command line is built in a writable area, as CreateProcessA needs.
    char commandLine[2 * MAX_PATH];
    const size_t length = strlen(program);
    memcpy(commandLine, program, length);
    commandLine[length] = ' ';
    memcpy(commandLine + length + 1, BENCH_TARGET_TAIL, sizeof BENCH_TARGET_TAIL);

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process))
        return -1;
    return 0;
}
