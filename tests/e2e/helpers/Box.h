// What the helpers take for a message box of a process: a visible dialog
// window of the box class that the process owns.
#pragma once
#include <windows.h>
#include <string.h>

inline bool IsBoxOf(HWND window, DWORD processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof className);
    return owner == processId && strcmp(className, "#32770") == 0 && IsWindowVisible(window);
}
