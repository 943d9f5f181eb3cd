// QuendRun's entry: one pass from the raw command line to the started program,
// or to a warning box and -1 when the program can't be found or started, or
// what it would be given is not what was meant.
//
// Built for 32-bit Windows as the product, and for 64-bit Windows to run the
// same code under test.
#include "QuendRun.h"

#include <windows.h>
#include <shellapi.h>
#include <string.h>

namespace {

// DLLs loaded by bare name later in the run, for the box or the shell's lookup,
// are otherwise searched for in the launcher's own folder first, where others
// may have put one. From here on only the system folder is searched. The call
// exists from Windows 8, and on Vista and 7 with update KB2533623; where it is
// missing nothing else is done, as SetDllDirectory would be inherited by the
// started program.
void RestrictDllSearch()
{
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesCall)(DWORD);
    const FARPROC found =
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories");
    if (found != nullptr)
        reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void (*)()>(found))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// True when the ANSI code page holds every character of the command line as
// it was given. The ANSI command line is the UTF-16 one in the platform's best
// fit, which turns a character the code page lacks into a look-alike (a plain
// letter for one with a macron, a real quote for a fullwidth one) or "?":
// another file, another argument, a wild card. Each conversion only counts;
// outside UTF-8 it still says whether it needed a stand-in.
bool CommandLineIsExact()
{
    // UTF-8 holds every character but a lone surrogate, which a file name may
    // hold and which becomes U+FFFD; its conversion takes no used-default flag.
    if (GetACP() == CP_UTF8)
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, GetCommandLineW(), -1, nullptr, 0,
                                   nullptr, nullptr) != 0;
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, GetCommandLineW(), -1, nullptr, 0,
                               nullptr, &usedDefault) != 0 &&
           !usedDefault;
}

// The first captioned top-level window that a process shows with SW_SHOWNORMAL
// or SW_SHOW is shown as its starter asked in STARTUPINFO instead, hidden,
// minimized or maximized: a window of the launcher's own that is never seen
// takes that one-time command, so that the box is shown plainly.
void UseUpStartupShowCommand()
{
    const HWND window = CreateWindowExW(0, L"STATIC", L"", WS_CAPTION, 0, 0, 0, 0, nullptr, nullptr,
                                        nullptr, nullptr);
    ShowWindow(window, SW_HIDE);
    DestroyWindow(window);
}

// Shows the system text of the error in a warning box under caption, and
// returns the exit code of a failure once the user has dismissed it. The text
// is in the user's display language, which the ANSI code page may lack: it is
// taken and shown in UTF-16.
int Refuse(DWORD error, const wchar_t* caption)
{
    // System texts with inserts, such as a bad executable format's, are only
    // produced with the inserts left as they are.
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                   reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    UseUpStartupShowCommand();
    MessageBoxW(nullptr, text != nullptr ? text : L"", caption,
                MB_OK | MB_ICONEXCLAMATION | MB_TASKMODAL);
    if (text != nullptr)
        LocalFree(text);
    return -1;
}

// The same under a caption of ANSI bytes, read by the code page. No caption
// built here is longer than a command line, and no byte gives more than one
// UTF-16 unit, so the area always holds it whole; a conversion that fails
// leaves it empty.
int Refuse(DWORD error, const char* caption)
{
    wchar_t wideCaption[kCommandLineCapacity] = {};
    MultiByteToWideChar(CP_ACP, 0, caption, -1, wideCaption, kCommandLineCapacity);
    return Refuse(error, wideCaption);
}

} // namespace

void ShowLastError(const char* caption)
{
    Refuse(GetLastError(), caption);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    RestrictDllSearch();

    // The runtime's start-up ends an unquoted name at the first byte above 0x7F
    // and knows no lead bytes, so the argument is taken from the raw command
    // line here, by the code page's rules.
    const char* commandLine = GetCommandLineA();
    LeadBytes leadBytes = {};
    CPINFO codePage;
    if (GetCPInfo(GetACP(), &codePage))
        MarkLeadBytes(codePage.LeadByte, MAX_LEADBYTES, leadBytes);

    // The settings file is named after the launcher as its starter wrote it.
    char settingsPath[kTokenCapacity];
    const size_t tokenLength = ProgramToken(commandLine, settingsPath, kTokenCapacity);
    const char* settings = SettingsPath(settingsPath, tokenLength) ? settingsPath : nullptr;

    // Nothing to hand on, nothing to do.
    const char* argument = ArgumentString(commandLine, leadBytes);
    if (*argument == '\0')
        return 0;

    // Neither a settings path nor an argument may be a look-alike of the one
    // given; the box shows the line as it was given, look-alikes and all.
    if (!CommandLineIsExact())
        return Refuse(ERROR_NO_UNICODE_TRANSLATION, GetCommandLineW());

    // A settings file in a folder that the current folder picks, such as the
    // "Q:ini" of "Q:\My Tools\QuendRun.exe", could be anyone's and name any
    // program: nothing is read or started. The box is titled with the
    // launcher's path, which is what the user can move.
    if (settings != nullptr &&
        IsChosenByCurrentFolder(settings, TokenCutInsideQuotes(commandLine))) {
        char launcherPath[kTokenCapacity];
        LauncherPath(commandLine, argument, launcherPath, kTokenCapacity);
        return Refuse(ERROR_BAD_PATHNAME, launcherPath);
    }

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
        !ApplyWildCard(argumentCopy, keyList, keyCount, settings, leadBytes))
        return Refuse(ERROR_FILENAME_EXCED_RANGE, programName);

    // Ask the shell which program the configured name stands for; it says why
    // it failed in its result, not always in the thread's last error.
    char program[kValueCapacity] = "";
    const INT_PTR found = reinterpret_cast<INT_PTR>(FindExecutableA(programName, "", program));
    if (found <= 32)
        return Refuse(LookupError(found), programName);
    program[kValueCapacity - 1] = '\0';

    // Path, blank, options and argument, with nothing added between them.
    char programLine[kCommandLineCapacity];
    size_t length = AppendProgramPath(programLine, kCommandLineCapacity, program);
    length = AppendText(programLine, kCommandLineCapacity, length, " ");
    length = AppendText(programLine, kCommandLineCapacity, length, options);
    AppendText(programLine, kCommandLineCapacity, length, argumentCopy);

    // cmd.exe runs a batch file and reads its command line as commands. Windows
    // and Wine each wrap a batch file's start for it in their own way, so the
    // system's cmd.exe is started here, never found by a search, with a line
    // built whole.
    const char* application = program;
    char commandProcessor[kValueCapacity];
    if (IsBatchFile(program)) {
        if (!IsPlainForBatch(program, options, argumentCopy, leadBytes))
            return Refuse(ERROR_BAD_ARGUMENTS, programLine);
        const UINT folder = GetSystemDirectoryA(commandProcessor, kValueCapacity);
        if (folder == 0 ||
            AppendText(commandProcessor, kValueCapacity, folder, "\\cmd.exe") >= kValueCapacity)
            return Refuse(ERROR_FILENAME_EXCED_RANGE, programLine);
        BatchCommandLine(programLine, kCommandLineCapacity, program, options, argumentCopy);
        application = commandProcessor;
    }

    // The path is named apart from the command line, so that a blank in it
    // can't start a program found at one of its prefixes.
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_FORCEONFEEDBACK;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process;
    if (!CreateProcessA(application, programLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS,
                        nullptr, nullptr, &startup, &process)) {
        ShowLastError(programLine);
        return -1;
    }
    return 0;
}
