// What the helpers take for a message box of a process, and the text of the
// box that reports Wine's refusal to create a process.
#pragma once
#include <windows.h>
#include <string.h>

// A visible dialog window of the box class that the process owns.
inline bool IsBoxOf(HWND window, DWORD processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    return owner == processId && strcmp(className, "#32770") == 0 && IsWindowVisible(window);
}

// The system's text for error 1359, which Wine gives now and then when it
// fails to create a process at all; a launcher reporting it shows this text.
inline void RefusalText(char* text, DWORD size)
{
    text[0] = '\0';
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   ERROR_INTERNAL_ERROR, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, size,
                   nullptr);
}
