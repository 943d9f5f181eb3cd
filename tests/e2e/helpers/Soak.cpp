// Soak driver: starts the launcher many times in a row, each with its own
// argument, and checks that every start reaches the target whole.
//
//   Soak <launcher> <target> <work folder> <count> <slots> <report>
// Each of the slots is a folder of the work folder with a copy of the launcher,
// a settings file and a copy of the target; launches go round the slots, so
// that a few run at once. Before a slot is used again, its last launch must
// have ended with 0 and its target must have recorded the expected command
// line; the record is then deleted. A box the launcher shows is read and
// dismissed. The report (and the output) gets the lines "launched <n>",
// "recorded <n>", "mismatched <n>", "failed <n>", "refused <n>", with up to
// ten lines "mismatch <launch> <hex>", "lost <launch>", "failed <launch> ..."
// or "refused <launch> ..." before them.
//
// Wine now and then fails to create a process at all: CreateProcess gives
// error 1359 with nothing else wrong. When that happens to the launcher's start
// of the target, the launcher reports it as it must: a box captioned with the
// command line it tried, the system's text for the error, and -1. Such a
// launch, like a refused start of the launcher itself, is counted as refused
// and made again, up to twice; more than one refusal in a hundred launches
// fails the soak.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Box.h"

namespace {

const DWORD kWaitMilliseconds = 20000;

struct Slot {
    char folder[MAX_PATH];
    HANDLE process;
    DWORD processId;
    int launch; // -1 when the slot is free
};

struct Totals {
    int launched, recorded, mismatched, failed, refused, notes;
    FILE* report;
    char refusal[512]; // the system's text for error 1359, as the launcher shows it
};

void Note(Totals& totals, const char* line)
{
    if (totals.notes++ < 10) {
        fprintf(totals.report, "%s\n", line);
        printf("%s\n", line);
    }
}

// The argument of one launch, and the target's command line that it must give:
// the default table turns the final "s" into "*".
void Argument(int launch, char* argument, size_t size)
{
    snprintf(argument, size, "launch %04d \"a b\" \xe9\x83-%d-items", launch,
             launch * 7919 % 10007);
}

void Expected(const Slot& slot, int launch, char* line, size_t size)
{
    char argument[128];
    Argument(launch, argument, sizeof argument);
    argument[strlen(argument) - 1] = '*';
    snprintf(line, size, "%s\\Quend.exe /soak:%s", slot.folder, argument);
}

bool ReadRecordedLine(const char* path, char* line, size_t size)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    char text[4096] = "";
    const size_t length = fread(text, 1, sizeof text - 1, file);
    fclose(file);
    text[length] = '\0';
    const char* hex = strncmp(text, "commandline ", 12) == 0 ? text + 12 : nullptr;
    size_t at = 0;
    while (hex != nullptr && hex[0] != '\n' && hex[0] != '\0' && hex[1] != '\0' && at + 1 < size) {
        const char pair[3] = {hex[0], hex[1], '\0'};
        line[at++] = static_cast<char>(strtoul(pair, nullptr, 16));
        hex += 2;
    }
    line[at] = '\0';
    return true;
}

// Starts the launcher for one launch in the slot; false, with a note, if it
// could not be started.
bool Start(Slot& slot, int launch, Totals& totals)
{
    char application[MAX_PATH + 32], argument[128], note[64];
    static char commandLine[4096];
    snprintf(application, sizeof application, "%s\\QuendRun.exe", slot.folder);
    Argument(launch, argument, sizeof argument);
    snprintf(commandLine, sizeof commandLine, "\"%s\" %s", application, argument);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    // Wine's failure to create a process hits the driver's own starts of the
    // launcher too; such a start is counted and tried again.
    PROCESS_INFORMATION process;
    for (int tries = 1; !CreateProcessA(application, commandLine, nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &process);
         ++tries) {
        if (GetLastError() != ERROR_INTERNAL_ERROR || tries == 3) {
            ++totals.failed;
            snprintf(note, sizeof note, "failed %d not started, error %lu", launch,
                     static_cast<unsigned long>(GetLastError()));
            Note(totals, note);
            slot.launch = -1;
            return false;
        }
        ++totals.refused;
        snprintf(note, sizeof note, "refused %d start of the launcher", launch);
        Note(totals, note);
        Sleep(100);
    }
    CloseHandle(process.hThread);
    slot.process = process.hProcess;
    slot.processId = process.dwProcessId;
    slot.launch = launch;
    return true;
}

// System texts end with a line break, which the notes do without.
void TrimLineEnd(char* text)
{
    size_t length = strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n'))
        text[--length] = '\0';
}

struct BoxSearch {
    DWORD processId;
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM context)
{
    BoxSearch& search = *reinterpret_cast<BoxSearch*>(context);
    if (!IsBoxOf(window, search.processId))
        return TRUE;
    search.box = window;
    return FALSE;
}

// Waits for the launch to end, and gives its exit code; false if it did not
// end in time. A box the launcher shows meanwhile is read into "caption: text"
// and dismissed, so that the launcher can end.
bool WaitForEnd(const Slot& slot, DWORD& code, char* box, size_t size)
{
    box[0] = '\0';
    const DWORD deadline = GetTickCount() + kWaitMilliseconds;
    // A launch normally ends long before the first look for a box.
    DWORD wait = 1000;
    while (WaitForSingleObject(slot.process, wait) == WAIT_TIMEOUT) {
        if (static_cast<LONG>(GetTickCount() - deadline) > 0) {
            TerminateProcess(slot.process, 1);
            return false;
        }
        wait = 20;
        BoxSearch search = {slot.processId, nullptr};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr)
            continue;
        if (box[0] == '\0') {
            char caption[1024] = "", text[1024] = "";
            GetWindowTextA(search.box, caption, sizeof caption);
            GetDlgItemTextA(search.box, 0xFFFF, text, sizeof text);
            TrimLineEnd(text);
            snprintf(box, size, "%s: %s", caption, text);
        }
        PostMessageA(search.box, WM_COMMAND, IDOK, 0);
    }
    return GetExitCodeProcess(slot.process, &code) != FALSE;
}

// Waits for the slot's launch to end and its target to record, and checks both.
void Finish(Slot& slot, Totals& totals)
{
    if (slot.launch < 0)
        return;
    char note[4096], box[2048], expected[2048], refused[4096];
    Expected(slot, slot.launch, expected, sizeof expected);
    snprintf(refused, sizeof refused, "%s: %s", expected, totals.refusal);
    DWORD code = 0;
    bool ended = WaitForEnd(slot, code, box, sizeof box);
    for (int again = 0;
         again < 2 && ended && code == static_cast<DWORD>(-1) && strcmp(box, refused) == 0;
         ++again) {
        ++totals.refused;
        snprintf(note, sizeof note, "refused %d start of the target", slot.launch);
        Note(totals, note);
        CloseHandle(slot.process);
        if (!Start(slot, slot.launch, totals))
            return;
        ended = WaitForEnd(slot, code, box, sizeof box);
    }
    if (!ended || code != 0) {
        ++totals.failed;
        if (!ended)
            snprintf(note, sizeof note, "failed %d still running", slot.launch);
        else
            snprintf(note, sizeof note, "failed %d exit %ld%s%s", slot.launch,
                     static_cast<long>(code), box[0] != '\0' ? " box " : "", box);
        Note(totals, note);
    }
    CloseHandle(slot.process);

    char record[MAX_PATH + 32];
    snprintf(record, sizeof record, "%s\\Quend.exe.record", slot.folder);
    // The target renames its record into place; until it has closed it, the
    // record may exist and yet not open for reading.
    // A launch that failed started no target, and is not waited for.
    char line[2048];
    const DWORD deadline = GetTickCount() + kWaitMilliseconds;
    bool read = false;
    while (!(read = ReadRecordedLine(record, line, sizeof line)) && ended && code == 0 &&
           static_cast<LONG>(GetTickCount() - deadline) < 0)
        Sleep(5);

    if (!read) {
        snprintf(note, sizeof note, "lost %d", slot.launch);
        Note(totals, note);
    } else {
        ++totals.recorded;
        if (strcmp(line, expected) != 0) {
            ++totals.mismatched;
            int length = snprintf(note, sizeof note, "mismatch %d ", slot.launch);
            for (const char* at = line; *at != '\0' && length + 3 < static_cast<int>(sizeof note);
                 ++at)
                length += snprintf(note + length, sizeof note - static_cast<size_t>(length), "%02x",
                                   static_cast<unsigned char>(*at));
            Note(totals, note);
        }
        DeleteFileA(record);
    }
    slot.launch = -1;
}

bool Prepare(Slot& slot, const char* work, int index, const char* launcher, const char* target)
{
    snprintf(slot.folder, sizeof slot.folder, "%s\\slot%d", work, index);
    slot.launch = -1;
    CreateDirectoryA(slot.folder, nullptr);
    char path[MAX_PATH + 32];
    snprintf(path, sizeof path, "%s\\QuendRun.exe", slot.folder);
    if (!CopyFileA(launcher, path, FALSE))
        return false;
    snprintf(path, sizeof path, "%s\\Quend.exe", slot.folder);
    if (!CopyFileA(target, path, FALSE))
        return false;
    snprintf(path, sizeof path, "%s\\Quend.exe.record", slot.folder);
    DeleteFileA(path);
    snprintf(path, sizeof path, "%s\\QuendRun.ini", slot.folder);
    FILE* settings = fopen(path, "wb");
    if (settings == nullptr)
        return false;
    fprintf(settings, "[Executable]\r\nFileName=%s\\Quend.exe\r\nOptions=/soak:\r\n", slot.folder);
    fclose(settings);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
        return 2;
    const int count = atoi(argv[4]);
    const int slotCount = atoi(argv[5]);
    if (count <= 0 || slotCount <= 0 || slotCount > 64)
        return 2;
    static Totals totals = {0, 0, 0, 0, 0, 0, fopen(argv[6], "wb"), ""};
    if (totals.report == nullptr)
        return 2;
    RefusalText(totals.refusal, sizeof totals.refusal);
    TrimLineEnd(totals.refusal);
    CreateDirectoryA(argv[3], nullptr);
    static Slot slots[64];
    for (int index = 0; index < slotCount; ++index)
        if (!Prepare(slots[index], argv[3], index, argv[1], argv[2]))
            return 3;

    const DWORD began = GetTickCount();
    for (int launch = 0; launch < count; ++launch) {
        Slot& slot = slots[launch % slotCount];
        Finish(slot, totals);
        if (Start(slot, launch, totals))
            ++totals.launched;
    }
    for (int index = 0; index < slotCount; ++index)
        Finish(slots[index], totals);

    const char* keys[] = {"launched", "recorded", "mismatched", "failed", "refused"};
    const int values[] = {totals.launched, totals.recorded, totals.mismatched, totals.failed,
                          totals.refused};
    for (int at = 0; at < 5; ++at) {
        fprintf(totals.report, "%s %d\n", keys[at], values[at]);
        printf("%s %d\n", keys[at], values[at]);
    }
    printf("in %lu ms\n", static_cast<unsigned long>(GetTickCount() - began));
    fclose(totals.report);
    return totals.launched == count && totals.recorded == count && totals.mismatched == 0 &&
                   totals.failed == 0 && totals.refused * 100 <= count
               ? 0
               : 1;
}
