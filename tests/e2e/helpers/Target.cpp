// Test target: records how it was started in "<its own path>.record": the
// command line, the start-up record's flags and show command, its current
// folder, priority class and the variable QUENDRUN_PROBE. With
// QUENDRUN_TARGET_SLEEP set it then stays that many milliseconds and leaves
// "<its own path>.done" behind. Its files are named in UTF-16 with the "\\?\"
// prefix, so that a target at a path of MAX_PATH - 1 bytes still records.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

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
    wchar_t self[MAX_PATH], record[MAX_PATH + 16], partial[MAX_PATH + 16];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    swprintf(record, MAX_PATH + 16, L"\\\\?\\%ls.record", self);
    swprintf(partial, MAX_PATH + 16, L"\\\\?\\%ls.partial", self);

    STARTUPINFOA startup;
    GetStartupInfoA(&startup);
    char folder[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, folder);
    char probe[256] = "";
    GetEnvironmentVariableA("QUENDRUN_PROBE", probe, sizeof probe);

    // Written aside and renamed, so a reader never sees half a record.
    FILE* file = _wfopen(partial, L"wb");
    if (file == nullptr)
        return 1;
    WriteLine(file, "commandline", GetCommandLineA());
    fprintf(file, "flags %lu\nshow %u\npriority %lu\n", startup.dwFlags, startup.wShowWindow,
            GetPriorityClass(GetCurrentProcess()));
    WriteLine(file, "folder", folder);
    WriteLine(file, "probe", probe);
    fclose(file);
    MoveFileExW(partial, record, MOVEFILE_REPLACE_EXISTING);

    char sleep[32] = "";
    if (GetEnvironmentVariableA("QUENDRUN_TARGET_SLEEP", sleep, sizeof sleep) > 0) {
        Sleep(static_cast<DWORD>(atoi(sleep)));
        swprintf(record, MAX_PATH + 16, L"\\\\?\\%ls.done", self);
        file = _wfopen(record, L"wb");
        if (file != nullptr)
            fclose(file);
    }
    return 0;
}
