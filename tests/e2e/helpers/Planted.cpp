// Test DLL, planted beside the launcher under the name of a DLL that Windows
// loads by bare name. When loaded, it appends the loading program's path to
// "<its own path>.loaded", then declines to load, so that the real one is
// used.
#include <windows.h>
#include <stdio.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH], marker[MAX_PATH + 8], program[MAX_PATH];
    GetModuleFileNameA(self, path, MAX_PATH);
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    snprintf(marker, sizeof marker, "%s.loaded", path);
    FILE* file = fopen(marker, "ab");
    if (file != nullptr) {
        fprintf(file, "%s\n", program);
        fclose(file);
    }
    return FALSE;
}
