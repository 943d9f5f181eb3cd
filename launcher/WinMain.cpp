// QuendRun's entry: one pass from the raw command line to the started program,
// or to a warning box and -1 when the program can't be found or started.
//
// Built for 32-bit Windows as the product, and for 64-bit Windows to run the
// same code under test.
#include "QuendRun.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

void ShowLastError(const char* caption)
{
    const DWORD error = GetLastError();
    // System texts with inserts, such as a bad executable format's, are only
    // produced with the inserts left as they are.
    char* text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<char*>(&text), 0, nullptr);
    MessageBoxA(nullptr, text != nullptr ? text : "", caption,
                MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
    if (text != nullptr)
        LocalFree(text);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The runtime's start-up ends an unquoted name at the first byte above 0x7F
    // and knows no lead bytes, so the argument is taken from the raw command
    // line here, by the code page's rules.
    const char* commandLine = GetCommandLineA();
    LeadBytes leadBytes = {};
    CPINFO codePage;
    if (GetCPInfo(GetACP(), &codePage)) {
        for (unsigned at = 0; at + 1 < MAX_LEADBYTES && codePage.LeadByte[at] != 0; at += 2)
            for (unsigned lead = codePage.LeadByte[at]; lead <= codePage.LeadByte[at + 1]; ++lead)
                leadBytes[lead] = true;
    }

    // The settings file is named after the launcher as its starter wrote it.
    char settingsPath[kTokenCapacity];
    const size_t tokenLength = ProgramToken(commandLine, settingsPath, kTokenCapacity);
    const char* settings = SettingsPath(settingsPath, tokenLength) ? settingsPath : nullptr;

    // Nothing to hand on, nothing to do.
    const char* argument = ArgumentString(commandLine, leadBytes);
    if (*argument == '\0')
        return 0;

    // Defaults stand in for whatever the settings file does not say.
    char programName[kValueCapacity];
    char options[kValueCapacity];
    char keyList[kValueCapacity];
    ReadSetting("Executable", "FileName", "Quend.exe", programName, settings);
    ReadSetting("Executable", "Options", ",,,,", options, settings);
    const unsigned keyCount = ReadSetting("Wild Card", nullptr, "s", keyList, settings);

    // Rewrite the argument's ending; one that can't be held whole starts
    // nothing, rather than a program given a cut argument.
    char argumentCopy[kArgumentCapacity];
    if (AppendText(argumentCopy, kArgumentCapacity, 0, argument) >= kArgumentCapacity ||
        !ApplyWildCard(argumentCopy, keyList, keyCount, settings, leadBytes)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        ShowLastError(programName);
        return -1;
    }

    // Ask the shell which program the configured name stands for.
    char program[kValueCapacity] = "";
    if (reinterpret_cast<INT_PTR>(FindExecutableA(programName, "", program)) <= 32) {
        ShowLastError(programName);
        return -1;
    }
    program[kValueCapacity - 1] = '\0';

    // Path, blank, options and argument, with nothing added between them.
    char programLine[kCommandLineCapacity];
    size_t length = AppendText(programLine, kCommandLineCapacity, 0, program);
    length = AppendText(programLine, kCommandLineCapacity, length, " ");
    length = AppendText(programLine, kCommandLineCapacity, length, options);
    AppendText(programLine, kCommandLineCapacity, length, argumentCopy);

    // The path is named apart from the command line, so that a blank in it
    // can't start a program found at one of its prefixes.
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(program, programLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        ShowLastError(programLine);
        return -1;
    }
    return 0;
}
