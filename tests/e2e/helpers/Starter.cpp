// Test starter: starts a program with exact command-line bytes, reads and
// dismisses the message boxes it shows, and reports how it ended.
//
//   Starter [wide] <request> <report>
// The request file holds the program path on its first line, the show command
// for its start-up record on the second (-1 for none), the time limit in
// milliseconds on the third, and the raw command line as the rest, to its end.
// The report gets lines "box <caption hex> <text hex> <alive> <caption hex>
// <text hex> <state>", the box read in the ANSI code page and then in UTF-16
// (little endian), where alive is 1 when the program was still running with
// its box up, and state is three flags of the box's window as it was read,
// each 1 or 0: visible, minimized, maximized ("100" for a box shown plainly;
// a box that is never shown is never read, and the program runs into the time
// limit); then "exit <code>" or
// "timeout", and last "processes <count>": how many processes were started in
// all, the program and any it started itself. The first box is also saved as
// a picture, "<report>.bmp".
// With "wide", the path and the command line are WTF-8, started as UTF-16 by
// CreateProcessW, as Explorer starts programs: UTF-8 in which a lone surrogate,
// which a file name may hold, has the three bytes of its own code point.
//
// Wine now and then fails to create a process at all (error 1359). The starter
// tries its own start again; a box with the system's text for that error gets
// a line "refused" after it, so that the case can be run again.
//
//   Starter format <error> <report>
// writes the system text of an error code, in hex, in the ANSI code page and
// then in UTF-16, as a box read either way shows it.
//
//   Starter hold
// keeps Wine's desktop up until it is ended: Wine closes the desktop a second
// after its last program has ended, and starting it again for each case costs
// more than most cases.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Box.h"

namespace {

void WriteHex(FILE* report, const char* text)
{
    fputc(' ', report);
    if (*text == '\0')
        fputc('-', report);
    for (; *text != '\0'; ++text)
        fprintf(report, "%02x", static_cast<unsigned char>(*text));
}

void WriteWideHex(FILE* report, const wchar_t* text)
{
    fputc(' ', report);
    if (*text == L'\0')
        fputc('-', report);
    for (; *text != L'\0'; ++text)
        fprintf(report, "%02x%02x", *text & 0xFFu, static_cast<unsigned>(*text) >> 8);
}

// Saves what a window shows as a 24-bit BMP file.
void SaveWindowImage(HWND window, const char* path)
{
    RECT frame;
    GetWindowRect(window, &frame);
    const LONG width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER info = {};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD rowSize = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD pixelSize = rowSize * static_cast<DWORD>(height);
    static BYTE pixels[16 << 20];
    if (pixelSize <= sizeof pixels &&
        GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels,
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != 0) {
        BITMAPFILEHEADER header = {};
        header.bfType = 0x4D42;
        header.bfOffBits = sizeof header + sizeof info;
        header.bfSize = header.bfOffBits + pixelSize;
        FILE* file = fopen(path, "wb");
        if (file != nullptr) {
            fwrite(&header, sizeof header, 1, file);
            fwrite(&info, sizeof info, 1, file);
            fwrite(pixels, 1, pixelSize, file);
            fclose(file);
        }
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
}

struct Watch {
    HANDLE process;
    DWORD processId;
    FILE* report;
    const char* imagePath;
    const char* refusal;
    HWND seen[16];
    int seenCount;
};

BOOL CALLBACK ReadBox(HWND window, LPARAM context)
{
    Watch& watch = *reinterpret_cast<Watch*>(context);
    if (!IsBoxOf(window, watch.processId))
        return TRUE;

    bool known = false;
    for (int at = 0; at < watch.seenCount; ++at)
        known = known || watch.seen[at] == window;
    if (!known && watch.seenCount < 16) {
        watch.seen[watch.seenCount++] = window;
        static char caption[4096], text[4096];
        static wchar_t wideCaption[4096], wideText[4096];
        caption[0] = text[0] = '\0';
        wideCaption[0] = wideText[0] = L'\0';
        GetWindowTextA(window, caption, sizeof caption);
        GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
        GetWindowTextW(window, wideCaption, 4096);
        GetDlgItemTextW(window, 0xFFFF, wideText, 4096);
        // Give the box time to be drawn, and the program time to end if it
        // did not wait for the box.
        Sleep(300);
        if (watch.seenCount == 1)
            SaveWindowImage(window, watch.imagePath);
        const bool alive = WaitForSingleObject(watch.process, 0) == WAIT_TIMEOUT;
        const bool visible = IsWindowVisible(window), minimized = IsIconic(window),
                   maximized = IsZoomed(window);
        fputs("box", watch.report);
        WriteHex(watch.report, caption);
        WriteHex(watch.report, text);
        fprintf(watch.report, " %d", alive ? 1 : 0);
        WriteWideHex(watch.report, wideCaption);
        WriteWideHex(watch.report, wideText);
        fprintf(watch.report, " %d%d%d\n", visible ? 1 : 0, minimized ? 1 : 0, maximized ? 1 : 0);
        if (strcmp(text, watch.refusal) == 0)
            fputs("refused\n", watch.report);
        fflush(watch.report);
    }
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

int FormatError(const char* error, const char* path)
{
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD code = static_cast<DWORD>(atoi(error));
    char* text = nullptr;
    wchar_t* wideText = nullptr;
    FormatMessageA(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    FormatMessageW(flags, nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(&wideText), 0, nullptr);
    FILE* report = fopen(path, "wb");
    if (report == nullptr)
        return 2;
    WriteHex(report, text != nullptr ? text : "");
    WriteWideHex(report, wideText != nullptr ? wideText : L"");
    fclose(report);
    return 0;
}

// WTF-8 to UTF-16, NUL-terminated in `capacity` units. False when the text
// breaks off inside a character or does not fit.
bool Widen(const char* text, wchar_t* wide, size_t capacity)
{
    size_t length = 0;
    for (const unsigned char* at = reinterpret_cast<const unsigned char*>(text); *at != 0;) {
        const int more = *at >= 0xF0 ? 3 : *at >= 0xE0 ? 2 : *at >= 0xC0 ? 1 : 0;
        unsigned long point = *at++ & (0x7Fu >> more);
        for (int left = more; left > 0; --left, ++at) {
            if ((*at & 0xC0) != 0x80)
                return false;
            point = point << 6 | (*at & 0x3Fu);
        }
        if (length + 3 > capacity)
            return false;
        if (point >= 0x10000) {
            wide[length++] = static_cast<wchar_t>(0xD800 + ((point - 0x10000) >> 10));
            point = 0xDC00 + (point & 0x3FF);
        }
        wide[length++] = static_cast<wchar_t>(point);
    }
    wide[length] = L'\0';
    return true;
}

bool Start(bool wide, const char* program, char* commandLine, const STARTUPINFOA& startup,
           PROCESS_INFORMATION& process)
{
    if (!wide)
        return CreateProcessA(program, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                              nullptr, nullptr,
                              const_cast<STARTUPINFOA*>(&startup), &process) != 0;
    static wchar_t wideProgram[MAX_PATH * 4], wideLine[32768];
    if (!Widen(program, wideProgram, MAX_PATH * 4) || !Widen(commandLine, wideLine, 32768))
        return false;
    STARTUPINFOW wideStartup;
    memset(&wideStartup, 0, sizeof wideStartup);
    wideStartup.cb = sizeof wideStartup;
    wideStartup.dwFlags = startup.dwFlags;
    wideStartup.wShowWindow = startup.wShowWindow;
    return CreateProcessW(wideProgram, wideLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                          nullptr, nullptr,
                          &wideStartup, &process) != 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "format") == 0)
        return FormatError(argv[2], argv[3]);
    if (argc == 2 && strcmp(argv[1], "hold") == 0) {
        GetDesktopWindow();
        Sleep(INFINITE);
    }
    const bool wide = argc == 4 && strcmp(argv[1], "wide") == 0;
    if (argc != 3 && !wide)
        return 2;
    const char* reportPath = argv[argc - 1];
    FILE* request = fopen(argv[argc - 2], "rb");
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
    for (int tries = 1; !Start(wide, program, commandLine, startup, process); ++tries) {
        if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3)
            return 3;
        Sleep(100);
    }
    // The program runs in a job of its own, which counts every process it
    // starts, however briefly that one lives.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job == nullptr || !AssignProcessToJobObject(job, process.hProcess)) {
        TerminateProcess(process.hProcess, 1);
        return 3;
    }
    ResumeThread(process.hThread);

    static char imagePath[MAX_PATH + 8], refusal[512];
    snprintf(imagePath, sizeof imagePath, "%s.bmp", reportPath);
    RefusalText(refusal, sizeof refusal);
    Watch watch = {
        process.hProcess, process.dwProcessId, fopen(reportPath, "wb"), imagePath, refusal, {}, 0};
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
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting;
    if (QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                  sizeof accounting, nullptr))
        fprintf(watch.report, "processes %lu\n", accounting.TotalProcesses);
    fclose(watch.report);
    return 0;
}
