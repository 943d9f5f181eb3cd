// The bench target: tells the driver that it has started, then exits.
//
// The driver names its events in QUENDRUN_BENCH_EVENT, which every launcher
// passes on in the environment. The target holds the mutex "<name>.alive" for
// its life, so that the driver can wait until it has gone; it sets
// "<name>.ready" when its command line ends in the tail that every row of the
// benchmark must give it, and "<name>.wrong" otherwise, so that a launcher
// that mangled the command line can't pass for a fast one.
#include <windows.h>
#include <string.h>

namespace {

void Set(const char* base, const char* suffix)
{
    char name[MAX_PATH];
    const size_t length = strlen(base);
    if (length + strlen(suffix) >= sizeof name)
        return;
    memcpy(name, base, length);
    strcpy(name + length, suffix);
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (event != nullptr)
        SetEvent(event);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char base[MAX_PATH - 16];
    const DWORD length = GetEnvironmentVariableA("QUENDRUN_BENCH_EVENT", base, sizeof base);
    if (length == 0 || length >= sizeof base)
        return 1;

    char alive[MAX_PATH];
    memcpy(alive, base, length);
    strcpy(alive + length, ".alive");
    CreateMutexA(nullptr, TRUE, alive);

    // The tail is what follows the first blank: the path before it is the
    // shell's spelling of the target's, which may differ from ours.
    const char* tail = strchr(GetCommandLineA(), ' ');
    Set(base, tail != nullptr && strcmp(tail + 1, BENCH_TARGET_TAIL) == 0 ? ".ready" : ".wrong");
    return 0;
}
