// Test target: records how it was started in "<its own path>.record": the
// command line, the start-up record's flags and show command, its current
// folder, priority class and the variable QUENDRUN_PROBE. With
// QUENDRUN_TARGET_SLEEP set it then stays that many milliseconds and leaves
// "<its own path>.done" behind.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

void WriteLine(FILE* file, const char* key, const char* text)
{
    fprintf(file, "%s ", key);
    if (*text == '\0')
        fputc('-', file);
    for (; *text != '\0'; ++text)
        fprintf(file, "%02x", static_cast<unsigned char>(*text));
    fputc('\n', file);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char self[MAX_PATH], record[MAX_PATH + 16], partial[MAX_PATH + 16];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    snprintf(record, sizeof record, "%s.record", self);
    snprintf(partial, sizeof partial, "%s.partial", self);

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    char probe[256] = "";
    GetEnvironmentVariableA("QUENDRUN_PROBE", probe, sizeof probe);

    // Written aside and renamed, so a reader never sees half a record.
    FILE* file = fopen(partial, "wb");
    if (file == nullptr)
        return 1;
    WriteLine(file, "commandline", GetCommandLineA());
    fprintf(file, "flags %lu\nshow %u\npriority %lu\n", startup.dwFlags, startup.wShowWindow,
            GetPriorityClass(GetCurrentProcess()));
    WriteLine(file, "folder", folder);
    WriteLine(file, "probe", probe);
    fclose(file);
    MoveFileExA(partial, record, MOVEFILE_REPLACE_EXISTING);

    char sleep[32] = "";
    if (GetEnvironmentVariableA("QUENDRUN_TARGET_SLEEP", sleep, sizeof sleep) > 0) {
        Sleep(static_cast<DWORD>(atoi(sleep)));
        snprintf(record, sizeof record, "%s.done", self);
        file = fopen(record, "wb");
        if (file != nullptr)
            fclose(file);
    }
    return 0;
}
