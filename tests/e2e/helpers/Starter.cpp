// Test starter: starts a program with exact command-line bytes, reads and
// dismisses the message boxes it shows, and reports how it ended.
//
//   Starter <request> <report>
// The request file holds the program path on its first line, the show command
// for its start-up record on the second (-1 for none), the time limit in
// milliseconds on the third, and the raw command line as the rest, to its end.
// The report gets lines "box <caption hex> <text hex>", then "exit <code>" or
// "timeout".
//
//   Starter format <error> <report>
// writes the system text of an error code, in hex, as the launcher shows it.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void WriteHex(FILE* report, const char* text)
{
    fputc(' ', report);
    if (*text == '\0')
        fputc('-', report);
    for (; *text != '\0'; ++text)
        fprintf(report, "%02x", static_cast<unsigned char>(*text));
}

struct Watch {
    DWORD processId;
    FILE* report;
    HWND seen[16];
    int seenCount;
};

BOOL CALLBACK ReadBox(HWND window, LPARAM context)
{
    Watch& watch = *reinterpret_cast<Watch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    if (owner != watch.processId || strcmp(className, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;

    bool known = false;
    for (int at = 0; at < watch.seenCount; ++at)
        known = known || watch.seen[at] == window;
    if (!known && watch.seenCount < 16) {
        watch.seen[watch.seenCount++] = window;
        static char caption[4096], text[4096];
        caption[0] = text[0] = '\0';
        GetWindowTextA(window, caption, sizeof caption);
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        fputs("box", watch.report);
        WriteHex(watch.report, caption);
        WriteHex(watch.report, text);
        fputc('\n', watch.report);
        fflush(watch.report);
    }
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

int FormatError(const char* error, const char* path)
{
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, static_cast<DWORD>(atoi(error)), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    FILE* report = fopen(path, "wb");
    if (report == nullptr)
        return 2;
    WriteHex(report, text != nullptr ? text : "");
    fclose(report);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "format") == 0)
        return FormatError(argv[2], argv[3]);
    if (argc != 3)
        return 2;
    FILE* request = fopen(argv[1], "rb");
    if (request == nullptr)
        return 2;
    static char buffer[65536];
    const size_t size = fread(buffer, 1, sizeof buffer - 1, request);
    fclose(request);
    buffer[size] = '\0';

    char* program = buffer;
    char* show = strchr(program, '\n');
    char* limit = show ? strchr(show + 1, '\n') : nullptr;
    char* commandLine = limit ? strchr(limit + 1, '\n') : nullptr;
    if (commandLine == nullptr)
        return 2;
    *show++ = *limit++ = *commandLine++ = '\0';

    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    if (atoi(show) >= 0) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(atoi(show));
    }
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 3;

    Watch watch = {process.dwProcessId, fopen(argv[2], "wb"), {}, 0};
    if (watch.report == nullptr)
        return 2;
    const DWORD deadline = GetTickCount() + static_cast<DWORD>(atoi(limit));
    while (WaitForSingleObject(process.hProcess, 20) == WAIT_TIMEOUT) {
        EnumWindows(ReadBox, reinterpret_cast<LPARAM>(&watch));
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            TerminateProcess(process.hProcess, 1);
            fputs("timeout\n", watch.report);
            fclose(watch.report);
            return 0;
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    fprintf(watch.report, "exit %ld\n", static_cast<long>(code));
    fclose(watch.report);
    return 0;
}
