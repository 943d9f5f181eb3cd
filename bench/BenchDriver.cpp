// The bench driver: times launches, each from CreateProcessA until the bench
// target says it has started, or, for a case that starts nothing, until the
// launcher's process has ended.
//
//   BenchDriver <request> <samples> <rounds>
// The request file has one case a line: its name, what ends its time
// ("target" or "exit"), the program to start and its whole command line,
// separated by tabs. After a warm-up round that is not
// kept, every round starts each case once. The orders of the rounds form a
// balanced Latin square, so that over a cycle of rounds each case stands in
// each place and follows each other case equally often: drift on the
// machine, the place in the round and what ran just before fall on all cases
// alike. The samples file gets "<case> <round> <milliseconds>"
// lines, then a "# retried <case> <round>" line for each launch that failed
// and was made again. Wine now and then fails to create a process on a busy
// machine, so a launch that could not be started, did not reach the target
// in time or ended badly is tried again, up to kAttempts times; one that
// reached the target with another command line ends the run at once. Exit
// code 0 when every launch reached the target with the command line it
// expects; otherwise 1 and a line on standard error.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

const int kMaxCases = 16;
const DWORD kLimit = 30000; // milliseconds for one launch to reach the target
const int kAttempts = 3;

// What became of one launch.
enum Result { kReached, kWrongCommandLine, kFailed };

struct Case {
    char name[64];
    bool untilExit; // timed until the launcher ends, not until the target runs
    char program[MAX_PATH];
    char commandLine[2048];
};

Result Fail(Result result, const char* what, const Case& item)
{
    fprintf(stderr, "%s: %s (error %lu)\n", item.name, what, GetLastError());
    fflush(stderr);
    return result;
}

// Reads "name<TAB>until<TAB>program<TAB>command line" lines; false on a
// malformed one.
bool ReadCases(const char* path, Case* cases, int& count)
{
    FILE* file = fopen(path, "rb");
    if (file == nullptr)
        return false;
    char line[sizeof(Case) + 8];
    count = 0;
    bool good = true;
    while (good && fgets(line, sizeof line, file) != nullptr) {
        line[strcspn(line, "\r\n")] = '\0';
        if (line[0] == '\0')
            continue;
        char* until = strchr(line, '\t');
        char* program = until != nullptr ? strchr(until + 1, '\t') : nullptr;
        char* commandLine = program != nullptr ? strchr(program + 1, '\t') : nullptr;
        if (commandLine == nullptr || count == kMaxCases) {
            good = false;
            break;
        }
        *until++ = *program++ = *commandLine++ = '\0';
        Case& item = cases[count++];
        item.untilExit = strcmp(until, "exit") == 0;
        good = (item.untilExit || strcmp(until, "target") == 0) &&
               strlen(line) < sizeof item.name && strlen(program) < sizeof item.program &&
               strlen(commandLine) < sizeof item.commandLine;
        if (good) {
            strcpy(item.name, line);
            strcpy(item.program, program);
            strcpy(item.commandLine, commandLine);
        }
    }
    fclose(file);
    return good && count > 0;
}

// One launch, and the milliseconds until the target was ready or the
// launcher had ended.
Result Launch(const Case& item, const char* base, HANDLE ready, HANDLE wrong, double frequency,
           double& milliseconds)
{
    char commandLine[sizeof item.commandLine];
    strcpy(commandLine, item.commandLine);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    ResetEvent(ready);
    ResetEvent(wrong);

    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    if (!CreateProcessA(item.program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return Fail(kFailed, "could not be started", item);
    HANDLE signals[2] = {ready, wrong};
    const DWORD signal = item.untilExit ? WaitForSingleObject(process.hProcess, kLimit)
                                        : WaitForMultipleObjects(2, signals, FALSE, kLimit);
    QueryPerformanceCounter(&end);
    milliseconds = static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / frequency;

    // Untimed: the launcher has ended well, and the target is gone before the
    // next launch begins.
    DWORD code = 1;
    const bool ended = (item.untilExit ? signal : WaitForSingleObject(process.hProcess, kLimit)) ==
                           WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process.hProcess, &code);
    if (!ended)
        TerminateProcess(process.hProcess, 1); // such as one that shows a warning box
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    char alive[MAX_PATH];
    snprintf(alive, sizeof alive, "%s.alive", base);
    HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, alive);
    if (mutex != nullptr) {
        WaitForSingleObject(mutex, kLimit);
        CloseHandle(mutex);
    }

    if (!item.untilExit && signal == WAIT_OBJECT_0 + 1)
        return Fail(kWrongCommandLine, "the target got another command line", item);
    if (!item.untilExit && signal != WAIT_OBJECT_0)
        return Fail(kFailed, "the target did not start in time", item);
    if (!ended || code != 0)
        return Fail(kFailed, "the launcher did not end with exit code 0", item);
    return kReached;
}

// The case at `place` of a round's order: row `round` of a Williams square,
// whose base order is 0, 1, n-1, 2, n-2, ... shifted by the row; for an odd
// number of cases the rows come once forward and once reversed.
int CaseAt(int round, int place, int count)
{
    const int cycle = count % 2 == 0 ? count : 2 * count;
    const int row = round % cycle;
    if (row >= count)
        place = count - 1 - place;
    const int base = place == 0 ? 0 : place % 2 == 1 ? (place + 1) / 2 : count - place / 2;
    return (base + row) % count;
}

} // namespace

int main(int argc, char** argv)
{
    static Case cases[kMaxCases];
    int count = 0;
    const int rounds = argc == 4 ? atoi(argv[3]) : 0;
    if (rounds <= 0 || !ReadCases(argv[1], cases, count)) {
        fprintf(stderr, "usage: BenchDriver <request> <samples> <rounds>\n");
        return 2;
    }

    // The target finds the events by the name in its environment, which the
    // launchers hand on.
    char base[64];
    snprintf(base, sizeof base, "QuendRunBench.%lu", GetCurrentProcessId());
    SetEnvironmentVariableA("QUENDRUN_BENCH_EVENT", base);
    char name[MAX_PATH];
    snprintf(name, sizeof name, "%s.ready", base);
    HANDLE ready = CreateEventA(nullptr, FALSE, FALSE, name);
    snprintf(name, sizeof name, "%s.wrong", base);
    HANDLE wrong = CreateEventA(nullptr, FALSE, FALSE, name);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    if (ready == nullptr || wrong == nullptr)
        return 1;

    static double samples[kMaxCases][10000];
    static int retried[64][2];
    int retries = 0;
    if (rounds > 10000)
        return 2;
    for (int round = -1; round < rounds; ++round) {
        for (int place = 0; place < count; ++place) {
            const int index = CaseAt(round < 0 ? 0 : round, place, count);
            double milliseconds = 0;
            Result result = kFailed;
            for (int attempt = 0; attempt < kAttempts && result == kFailed; ++attempt) {
                if (attempt > 0 && retries < 64) {
                    retried[retries][0] = index;
                    retried[retries++][1] = round;
                }
                result = Launch(cases[index], base, ready, wrong,
                                static_cast<double>(frequency.QuadPart), milliseconds);
            }
            if (result != kReached)
                return 1;
            if (round >= 0)
                samples[index][round] = milliseconds;
        }
        if (round >= 0 && (round + 1) % 20 == 0) {
            fprintf(stderr, "round %d of %d\n", round + 1, rounds);
            fflush(stderr);
        }
    }

    FILE* out = fopen(argv[2], "wb");
    if (out == nullptr)
        return 1;
    for (int round = 0; round < rounds; ++round)
        for (int index = 0; index < count; ++index)
            fprintf(out, "%s %d %.3f\n", cases[index].name, round, samples[index][round]);
    for (int at = 0; at < retries; ++at)
        fprintf(out, "# retried %s %d\n", cases[retried[at][0]].name, retried[at][1]);
    return fclose(out) == 0 ? 0 : 1;
}
